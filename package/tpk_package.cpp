#include "package/tpk_package.h"

#include "platform/trace.h"

namespace qalv {
namespace {

constexpr der::LengthRule kRule = der::LengthRule::kPackage;

// The header of one of the four unnamed SEQUENCEs (the package header and
// the s1, s2 and s3 groups). Its length must fit the data but bounds nothing:
// packages have always been read on from the enclosing element here, and
// stored files carry lengths of 0, the bare 0x80 form and other values that
// do not match what follows.
[[nodiscard]] int32_t ReadUnnamedHeader(der::Cursor& cur) {
  size_t length = 0;
  return cur.ReadHeader(der::kTagSequence, length, kRule);
}

// Where the extent a signed SEQUENCE's header declares ends, counted as the
// bytes the enclosing cursor has left there.
struct SignedExtent {
  size_t contentLength = 0;
  size_t leftAtEnd = 0;

  // Whether what `cur` has read so far ends inside the extent.
  bool Covers(const der::Cursor& cur) const { return cur.Left() >= leftAtEnd; }
};

// The header of a signed SEQUENCE (tpk_plaintext, the signed region).
// `whole` is the element as declared, header included: the bytes its
// signature covers. Like the unnamed ones, the declared length bounds
// nothing, and the elements inside are read on from `cur`; what the reader
// takes from them is held to the extent by the check at the end.
[[nodiscard]] int32_t EnterSignedSequence(der::Cursor& cur, der::Bytes& whole,
                                          SignedExtent& extent) {
  const der::Bytes start = cur.Rest();
  size_t length = 0;
  if (const int32_t code = cur.ReadHeader(der::kTagSequence, length, kRule)) return code;
  whole = start.first(start.size() - cur.Left() + length);
  extent = {length, cur.Left() - length};
  return 0;
}

int32_t ReadCertificate(der::Cursor& cur, CertificateList& list, der::Bytes& value) {
  if (const int32_t code = tlv::ReadBitString(cur, value)) return code;
  return ParseCertificate(list, value.data(), value.size());
}

int LogLength(size_t length) { return static_cast<int>(length); }

// Reads the inner package from its element's content. `digestsSigned` tells
// whether the s1 group and both digests end inside the signed region's
// declared extent, which the package reader checks last.
[[nodiscard]] int32_t ReadIpkData(der::Cursor cur, IpkData& ipk, bool& digestsSigned) {
  if (const int32_t code = tlv::ReadInteger(cur, ipk.version)) return code;
  SignedExtent region;
  if (const int32_t code = EnterSignedSequence(cur, ipk.signedRegion, region)) return code;
  if (const int32_t code = ReadUnnamedHeader(cur)) return code;

  der::Bytes certificate;
  if (const int32_t code = tlv::ReadBitString(cur, ipk.s1Signature)) return code;
  if (const int32_t code = ReadCertificate(cur, ipk.s1Certificate, certificate)) return code;
  if (const int32_t code = tlv::ReadBitString(cur, ipk.cipherDigest)) return code;
  if (const int32_t code = tlv::ReadBitString(cur, ipk.snapshotDigest)) return code;
  digestsSigned = region.Covers(cur);
  // The sign time closes the signed region but may lie past its declared
  // end, as packages have always had it, so the extent is measured before it.
  if (const int32_t code = tlv::ReadUtcTime(cur, ipk.ipkSignTime)) return code;

  if (const int32_t code = ReadUnnamedHeader(cur)) return code;
  if (const int32_t code = tlv::ReadBitString(cur, ipk.s2Signature)) return code;
  if (const int32_t code = ReadCertificate(cur, ipk.s2Certificate, certificate)) return code;
  if (!cur.Empty()) return tlv::kLengthMismatch;
  return 0;
}

// Clears everything but the copy, so a record can be read again.
void ResetFields(TpkPackage& package) {
  FreeCertificateList(package.s3Certificate);
  FreeCertificateList(package.ipkData.s1Certificate);
  FreeCertificateList(package.ipkData.s2Certificate);
  package.version = 0;
  package.tpkPlaintext = {};
  package.ipkData = IpkData{};
  package.versionInfo = VersionInfo{};
  package.tpkSignTime = der::Time{};
  package.s3Signature = {};
  package.cipher = {};
  package.snapshot = {};
}

}  // namespace

void ReleasePackage(TpkPackage& package) {
  ResetFields(package);
  package.copy.Release();
}

int32_t ReadPackage(TpkPackage& package, const uint8_t* bytes, size_t length) {
  trace::Log("---TPK parse start\n");
  ResetFields(package);
  if (bytes != nullptr && length != 0) {
    if (!package.copy.Assign(bytes, length)) return tlv::kNoMemory;
  }
  trace::Log("tpk_p len=%d\n", LogLength(package.copy.size()));

  // The outer element is the one bound the layout keeps: it must be the
  // whole file.
  der::Cursor cur(package.copy.span());
  size_t contentLength = 0;
  if (const int32_t code = cur.ReadHeader(der::kTagSequence, contentLength, kRule)) return code;
  if (contentLength != cur.Left()) return tlv::kLengthMismatch;
  trace::Log("tpk content len=%d\n", LogLength(contentLength));

  if (const int32_t code = ReadUnnamedHeader(cur)) return code;
  if (const int32_t code = tlv::ReadInteger(cur, package.version)) return code;
  trace::Log("version=%d\n", package.version);

  SignedExtent plaintext;
  if (const int32_t code = EnterSignedSequence(cur, package.tpkPlaintext, plaintext)) return code;
  trace::Log("tpk_plaintext len=%d\n", LogLength(plaintext.contentLength));

  // ipk_data and versionInfo are read within their own declared extents.
  IpkData& ipk = package.ipkData;
  der::Cursor ipkContent;
  if (const int32_t code = cur.ReadElement(der::kTagSequence, ipkContent, kRule, &ipk.whole)) {
    return code;
  }
  trace::Log("ipk_data len=%d\n", LogLength(ipkContent.Left()));
  bool digestsSigned = false;
  if (const int32_t code = ReadIpkData(ipkContent, ipk, digestsSigned)) return code;

  VersionInfo& info = package.versionInfo;
  der::Cursor infoContent;
  if (const int32_t code = cur.ReadElement(der::kTagSequence, infoContent, kRule, &info.whole)) {
    return code;
  }
  trace::Log("versionInfo len=%d\n", LogLength(info.whole.size()));
  if (const int32_t code = ReadVersionInfo(infoContent, info)) return code;
  const bool versionInfoSigned = plaintext.Covers(cur);

  // Like the inner one, this sign time may lie past tpk_plaintext's declared
  // end, as packages have always had it.
  const der::Time& signTime = package.tpkSignTime;
  if (const int32_t code = tlv::ReadUtcTime(cur, package.tpkSignTime)) return code;
  trace::Log("s2 time=%d/%d/%d %d:%d:%d\n", signTime.year, signTime.month, signTime.day,
             signTime.hour, signTime.minute, signTime.second);

  if (const int32_t code = ReadUnnamedHeader(cur)) return code;
  if (const int32_t code = tlv::ReadBitString(cur, package.s3Signature)) return code;
  trace::Log("s3 signature(%d)", LogLength(package.s3Signature.size()));
  trace::Dump(package.s3Signature.data(), package.s3Signature.size());

  der::Bytes certificate;
  if (const int32_t code = tlv::ReadBitString(cur, certificate)) return code;
  trace::Log("s3 certificate len=%d\n", LogLength(certificate.size()));
  if (const int32_t code = ParseCertificate(package.s3Certificate, certificate.data(),
                                            certificate.size())) {
    return code;
  }
  for (const X509Certificate& cert : package.s3Certificate) {
    trace::Log("s3 certificate serial");
    trace::Dump(cert.serial.bytes.data(), cert.serial.bytes.size());
  }

  if (const int32_t code = tlv::ReadBitString(cur, package.cipher)) return code;
  trace::Log("cipher len=%d\n", LogLength(package.cipher.size()));
  if (const int32_t code = tlv::ReadBitString(cur, package.snapshot)) return code;
  trace::Log("snapshot len=%d\n", LogLength(package.snapshot.size()));
  if (!cur.Empty()) return tlv::kLengthMismatch;

  // The declared lengths of tpk_plaintext and the signed region are not tied
  // to what follows their headers, so without this a package could carry
  // version information, digests or the s1 signature that no signature
  // covers. Each checked element starts inside its extent and they are read
  // in order, so the last one taken from an extent bounds the others:
  // versionInfo follows ipk_data in tpk_plaintext (s3), and snapshotDigest
  // follows the s1 group and cipherDigest in the signed region (s2). Last, so
  // that a package malformed in any other way keeps that code.
  if (!versionInfoSigned || !digestsSigned) return tlv::kOutsideSignedExtent;

  trace::Log("---TPK parse end\n");
  return 0;
}

}  // namespace qalv
