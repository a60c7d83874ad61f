// The policy package reader: a private copy of the file and views into it.
//
// The reader checks structure only; signatures, digests and certificates
// against their issuers are checked by the verification on top of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "der/cursor.h"
#include "package/elements.h"
#include "package/version_info.h"
#include "platform/secure_buffer.h"
#include "x509/certificate.h"

namespace qalv {

struct TpkPackage;

// Frees the certificate lists, wipes and frees the copy, and resets every
// field; the record can be read into again.
void ReleasePackage(TpkPackage& package);

struct IpkData {
  der::Bytes whole;           // the whole ipk_data element
  int32_t version = 0;
  der::Bytes signedRegion;    // the whole element signed by s2
  der::Bytes s1Signature;
  CertificateList s1Certificate;
  der::Bytes cipherDigest;    // SHA-256 of the cipher value
  der::Bytes snapshotDigest;  // SHA-256 of the snapshot value
  der::Time ipkSignTime;
  der::Bytes s2Signature;
  CertificateList s2Certificate;
};

// Move-only: every span points into `copy`, whose heap block moves with it.
struct TpkPackage {
  SecureBuffer copy;        // the private copy of the whole file
  int32_t version = 0;
  der::Bytes tpkPlaintext;  // the whole element signed by s3
  IpkData ipkData;
  VersionInfo versionInfo;
  der::Time tpkSignTime;
  der::Bytes s3Signature;
  CertificateList s3Certificate;
  der::Bytes cipher;
  der::Bytes snapshot;

  TpkPackage() = default;
  TpkPackage(TpkPackage&&) = default;
  TpkPackage& operator=(TpkPackage&&) = default;
  ~TpkPackage() { ReleasePackage(*this); }
};

// Copies `length` bytes into the record and reads the package. With no bytes
// (null or length 0) it reads the copy the record already holds, so a caller
// can read a file straight into `package.copy`. 0 or the first code met; a
// package otherwise well formed is refused with tlv::kOutsideSignedExtent when
// ipk_data or versionInfo ends past tpk_plaintext's declared end, or the s1
// group or a digest past the signed region's.
[[nodiscard]] int32_t ReadPackage(TpkPackage& package, const uint8_t* bytes, size_t length);

}  // namespace qalv
