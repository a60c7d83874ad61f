// Builds policy packages (.tpk), well-formed or deliberately broken.
//
// Package layout (one DER structure; names in quotes are the node names that
// DerNode::At finds in the tree the writer builds):
//
//   "tpk_p"            SEQUENCE {                       fills the file exactly
//     "header"           SEQUENCE {                     consumed by the reader
//       "tpkVersion"       INTEGER
//       "tpk_plaintext"    SEQUENCE {                   whole element signed by s3
//         "ipk_data"         SEQUENCE {
//           "ipkVersion"       INTEGER
//           "signedRegion"     SEQUENCE {               whole element signed by s2
//             "s1"               SEQUENCE {             consumed
//               "s1Signature"      BIT STRING           over the document
//               "s1Certificate"    BIT STRING           DER certificate or its Base64 text
//             }
//             "cipherDigest"     BIT STRING             SHA-256 of the cipher value
//             "snapshotDigest"   BIT STRING             SHA-256 of the snapshot value
//             "ipkSignTime"      UTCTime                YYMMDDHHMMSSZ, year < 90 is 20yy
//           }
//           "s2"               SEQUENCE {               consumed
//             "s2Signature"      BIT STRING
//             "s2Certificate"    BIT STRING             ends ipk_data exactly
//           }
//         }
//         "versionInfo"      SEQUENCE {                 the 30 elements of the version-info
//           "version" ... "winPhoneUpdate"              record in order, named by their keys
//         }
//         "tpkSignTime"      UTCTime
//       }
//     }
//     "s3"               SEQUENCE {                     consumed
//       "s3Signature"      BIT STRING                   over tpk_plaintext
//       "s3Certificate"    BIT STRING
//     }
//     "cipher"           BIT STRING                     the encrypted document (EncryptDocument)
//     "snapshot"         BIT STRING                     preview image; ends the file exactly
//   }
//
// Every BIT STRING has unused-bits byte 0 and a value of at least one byte.
// The cipher is AES-256-CBC with a zero IV and the key SHA-256 of the
// password's UTF-8 bytes, over document || "QALV" || n bytes of value n
// (n = 1..16). Certificates are DER or the Base64 text of the DER.
// Signatures are RSA PKCS #1 v1.5, each with its own digest (SHA-256 unless
// chosen otherwise). Lengths are minimal DER unless a node overrides them.
//
// Making a variant: build the tree, change nodes, optionally refresh the
// digests and sign again, serialise:
//
//   DerNode tree = BuildPackageTree(spec);
//   SetBitStringValue(tree.At("cipher"), tampered);
//   RefreshDigests(tree);   // or not: a stale cipherDigest
//   Resign(tree, spec);     // or not: stale s2/s3 signatures
//   Bytes file = Serialize(tree);
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "writer/der_writer.h"
#include "writer/test_pki.h"

namespace qalv::writer {

struct PlatformInfo {
  int64_t support = 0;
  std::string version;
  std::string update;
};

struct VersionInfoSpec {
  std::string version = "1.0";
  std::string uniqueSerial = "QALV-TEST-000001";
  std::string batchNumber = "BATCH-0001";
  std::string fileName = "policy.pdf";
  std::string kind = "人壽保險";
  std::string transaction = "TX-0001";
  std::string memo = "本保單僅供測試";
  std::string accountName = "QALV 測試人壽";
  std::string certChainUrl = "http://127.0.0.1:8080/acquvSrv/caChain";
  Bytes tpkTrustSeal;
  Bytes tpkMistrustSeal;
  Bytes ipkTrustSeal;
  Bytes ipkMistrustSeal;
  Bytes onlineTrustSeal;
  Bytes onlineMistrustSeal;
  PlatformInfo win{1, "1.2.8.0", "http://127.0.0.1:8080/acquvSrv/update"};
  PlatformInfo mac;
  PlatformInfo ios;
  PlatformInfo android;
  PlatformInfo winPhone;

  // Six distinct small GIFs (trust seals green, mistrust seals red).
  VersionInfoSpec();
};

struct SignatureSpec {
  Identity signer;  // key and certificate
  Digest digest = Digest::kSha256;
  bool certificateAsBase64 = false;  // the certificate's Base64 text instead of its DER
};

struct PackageSpec {
  int64_t tpkVersion = 1;
  int64_t ipkVersion = 1;
  Bytes document;
  std::string password;
  Bytes snapshot;
  VersionInfoSpec versionInfo;
  SignatureSpec s1;         // over the document
  SignatureSpec s2;         // over the signed region
  SignatureSpec s3;         // over tpk_plaintext
  std::string ipkSignTime;  // UTCTime content, "YYMMDDHHMMSSZ"
  std::string tpkSignTime;

  // A small document and preview, the password "test-password", both signing
  // times now; no signers.
  PackageSpec();
};

// Signers of the test PKI: the insurer for s1 and s2, the authority for s3.
PackageSpec DefaultPackageSpec(const TestPki& pki);

// "YYMMDDHHMMSSZ" of `time` in UTC.
std::string UtcTimeText(std::time_t time);

// The cipher value: AES-256-CBC, zero IV, key SHA-256 of the password bytes,
// over document || "QALV" || n bytes of value n (n = 1..16).
Bytes EncryptDocument(const Bytes& document, std::string_view password);

// The complete, consistently signed package as a tree.
DerNode BuildPackageTree(const PackageSpec& spec);

// cipherDigest and snapshotDigest := SHA-256 of the tree's current cipher
// and snapshot values.
void RefreshDigests(DerNode& package);

// s2 over the current signedRegion, then s3 over the current tpk_plaintext,
// with the signers and digests of `spec`. s1 is left as it is.
void Resign(DerNode& package, const PackageSpec& spec);

// Serialize(BuildPackageTree(spec)).
Bytes BuildPackage(const PackageSpec& spec);

}  // namespace qalv::writer
