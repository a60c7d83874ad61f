// A test PKI: a self-signed root, an intermediate CA, and two signers (the
// insurer, who signs s1 and s2, and the certification authority, who signs
// s3), all X.509 v3 with key identifiers and BasicConstraints; plus the CA
// chain file (a certificates-only PKCS #7 SignedData) the reader looks up by
// the signers' authority key identifier.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "writer/crypto.h"
#include "writer/der_writer.h"

namespace qalv::writer {

struct CertificateSpec {
  std::string subject;    // e.g. "CN=QALV Test Root CA,O=QALV Test,C=TW"
  bool isCa = false;      // CAs get a critical BasicConstraints with cA true
  std::string notBefore;  // "YYYYMMDDhhmmss" UTC
  std::string notAfter;
  Digest digest = Digest::kSha256;
  Bytes serial;  // empty: 16 random bytes
  // Subject and Authority key identifiers; without both, the reader takes a
  // version 3 certificate as self-signed.
  bool keyIdentifiers = true;
};

// A key with its certificate: what signs packages or issues certificates.
struct Identity {
  std::shared_ptr<RsaKey> key;
  std::string subject;  // as written into the certificate; empty when loaded
  Bytes certificate;    // DER
};

// Issues a certificate for `key`; self-signed when `issuer` is null.
Identity IssueCertificate(const CertificateSpec& spec, std::shared_ptr<RsaKey> key,
                          const Identity* issuer);

// "YYYYMMDDhhmmss" of `time` in UTC.
std::string CertTimeText(std::time_t time);

struct TestPki {
  Identity root;
  Identity intermediate;
  Identity insurer;    // signs s1 and s2
  Identity authority;  // signs s3
};

// The roles in issuing order. Each is kept as <stem>.key (PEM private key)
// and <stem>.crt (DER certificate); the root is its own issuer.
struct PkiRole {
  const char* stem;
  const char* subject;
  bool isCa;
  Identity TestPki::*identity;
  Identity TestPki::*issuer;
};
inline constexpr PkiRole kPkiRoles[] = {
    {"root", "CN=QALV Test Root CA,O=QALV Test,C=TW", true, &TestPki::root, &TestPki::root},
    {"intermediate", "CN=QALV Test Intermediate CA,O=QALV Test,C=TW", true, &TestPki::intermediate,
     &TestPki::root},
    {"insurer", "CN=QALV Test Insurer,O=QALV Test Insurance,C=TW", false, &TestPki::insurer,
     &TestPki::intermediate},
    {"authority", "CN=QALV Test Certification Authority,O=QALV Test,C=TW", false,
     &TestPki::authority, &TestPki::intermediate}};

struct PkiOptions {
  // Where to load <stem>.key from; empty: generate keys of `bits` bits.
  std::string keyDir;
  unsigned bits = 2048;
  // Validity of every certificate: from a day ago for `days` days.
  int days = 3650;
  Digest digest = Digest::kSha256;
};

TestPki MakeTestPki(const PkiOptions& options);

// Writes every role's <stem>.key and <stem>.crt into `dir` (which must exist).
void SavePki(const TestPki& pki, const std::string& dir);

// The PEM text of a DER certificate, 64 Base64 characters a line.
std::string CertificatePem(const Bytes& der);

// The trust folder of `pki` in `dir` (made when missing): anchors/root.pem
// (its root) and authority/authority.pem (the certificate that signs s3), so
// that a reader pointed at it trusts exactly this PKI.
void SaveTrustFolder(const TestPki& pki, const std::string& dir);

// A key and certificate from files: the key as PEM, the certificate as DER
// or PEM.
Identity LoadIdentity(const std::string& keyPath, const std::string& certificatePath);

// A certificates-only PKCS #7 SignedData ContentInfo (DER) holding the
// certificates in the order given.
Bytes ChainFile(const std::vector<Bytes>& certificates);

// The chain of the signers of `pki`: root and intermediate.
Bytes ChainFile(const TestPki& pki);

}  // namespace qalv::writer
