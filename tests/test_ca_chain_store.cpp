// The CA chain reader on chains from the project's writer and from OpenSSL,
// the certificate check over chains that lead up, stop short or go round in
// circles, and the chain store against an in-process chain service.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cctype>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "opening/ca_chain_store.h"
#include "platform/sealed_storage.h"
#include "session/owner_window.h"
#include "session/policy_state.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"
#include "writer/crypto.h"
#include "writer/der_writer.h"
#include "writer/test_pki.h"

namespace qalv {
namespace {

using test::Bytes;
using test::Hex;
using test::ShellQuote;
using writer::DerNode;

constexpr const char* kInsurerSubject = "CN=QALV Test Insurer,O=QALV Test Insurance,C=TW";
constexpr const char* kIntermediateSubject = "CN=QALV Test Intermediate CA,O=QALV Test,C=TW";

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Midnight UTC that starts today.
std::time_t TodayMidnight() {
  const std::time_t now = std::time(nullptr);
  return now - now % 86400;
}

writer::Identity Issue(const std::string& subject, bool isCa,
                       const std::shared_ptr<writer::RsaKey>& key, const writer::Identity* issuer,
                       std::string notAfter = "20991231235959", bool keyIdentifiers = true) {
  writer::CertificateSpec spec;
  spec.subject = subject;
  spec.isCa = isCa;
  spec.notBefore = "20200101000000";
  spec.notAfter = std::move(notAfter);
  spec.keyIdentifiers = keyIdentifiers;
  return writer::IssueCertificate(spec, key, issuer);
}

CertificateList ReadCertificates(const std::vector<Bytes>& ders) {
  CertificateList list;
  for (const Bytes& der : ders) EXPECT_EQ(ParseCertificate(list, der.data(), der.size()), 0);
  return list;
}

// The certificates as the store reads them: through a chain file.
CertificateList ChainCertificates(const std::vector<Bytes>& ders) {
  const Bytes chain = writer::ChainFile(ders);
  SignedDataRecord record;
  EXPECT_EQ(ParseSignedData(record, chain.data(), chain.size()), 0);
  return std::move(record.certificates);
}

std::vector<Bytes> RawCertificates(const CertificateList& list) {
  std::vector<Bytes> raws;
  for (const X509Certificate& cert : list) {
    raws.emplace_back(cert.raw.begin(), cert.raw.end());
  }
  return raws;
}

// The certificates every case draws on, issued once with the committed keys.
struct Certificates {
  writer::Identity root;
  writer::Identity intermediate;
  writer::Identity insurer;
  writer::Identity authority;
  writer::Identity insurerExpiredYesterday;
  writer::Identity insurerExpiringToday;
  // The intermediate's name over another key, and its key without cA.
  writer::Identity impostor;
  writer::Identity nonCaIntermediate;
  // Two CAs that certify each other, and a signer under one of them.
  writer::Identity loopA;
  writer::Identity loopB;
  writer::Identity loopSigner;
  // The root issued again (same name and key, other serial and dates), and
  // a self-made PKI that copies the genuine names over other keys.
  writer::Identity reissuedRoot;
  writer::Identity forgedRoot;
  writer::Identity forgedIntermediate;
  writer::Identity forgedInsurer;
};

const Certificates& Fixture() {
  static const Certificates certs = [] {
    const writer::TestPki& pki = test::SharedPki();
    Certificates c;
    c.root = pki.root;
    c.intermediate = pki.intermediate;
    c.insurer = pki.insurer;
    c.authority = pki.authority;
    c.insurerExpiredYesterday = Issue(kInsurerSubject, false, pki.insurer.key, &pki.intermediate,
                                      writer::CertTimeText(TodayMidnight() - 1));
    c.insurerExpiringToday = Issue(kInsurerSubject, false, pki.insurer.key, &pki.intermediate,
                                   writer::CertTimeText(TodayMidnight()));
    c.impostor = Issue(kIntermediateSubject, true, pki.authority.key, &pki.root);
    c.nonCaIntermediate = Issue(kIntermediateSubject, false, pki.intermediate.key, &pki.root);

    const writer::Identity bootstrapB = Issue("CN=Loop B", true, pki.authority.key, nullptr);
    c.loopA = Issue("CN=Loop A", true, pki.root.key, &bootstrapB);
    c.loopB = Issue("CN=Loop B", true, pki.authority.key, &c.loopA);
    c.loopSigner = Issue("CN=Loop Signer", false, pki.insurer.key, &c.loopA);

    c.reissuedRoot = Issue(pki.root.subject, true, pki.root.key, nullptr, "20401231235959");
    c.forgedRoot = Issue(pki.root.subject, true, pki.authority.key, nullptr);
    c.forgedIntermediate = Issue(pki.intermediate.subject, true, pki.insurer.key, &c.forgedRoot);
    c.forgedInsurer = Issue(kInsurerSubject, false, pki.authority.key, &c.forgedIntermediate);
    return c;
  }();
  return certs;
}

// The test PKI's root as the one anchor.
CertificateList RootAnchor() { return ReadCertificates({Fixture().root.certificate}); }

// ---------------------------------------------------------------------------
// The certificate check

using C = Certificates;

struct CheckCase {
  const char* name;
  writer::Identity Certificates::*subject;
  std::vector<writer::Identity Certificates::*> own;  // after the subject in its own list
  std::vector<writer::Identity Certificates::*> chain;
  int32_t flags;
  std::vector<writer::Identity Certificates::*> anchors = {&C::root};
};

const CheckCase kCheckCases[] = {
    {"full chain", &C::insurer, {}, {&C::root, &C::intermediate}, 0},
    {"chain in reverse order", &C::insurer, {}, {&C::intermediate, &C::root}, 0},
    {"the other signer", &C::authority, {}, {&C::root, &C::intermediate}, 0},
    {"the root itself", &C::root, {}, {&C::root, &C::intermediate}, 0},
    {"issuer missing", &C::insurer, {}, {&C::root}, 6},
    {"issuer missing, expired", &C::insurerExpiredYesterday, {}, {&C::root}, 7},
    {"empty chain", &C::insurer, {}, {}, 6},
    {"top not self-signed", &C::insurer, {}, {&C::intermediate}, 4},
    {"top not self-signed, expired", &C::insurerExpiredYesterday, {}, {&C::intermediate}, 5},
    {"expired yesterday", &C::insurerExpiredYesterday, {}, {&C::root, &C::intermediate}, 1},
    {"expiring today", &C::insurerExpiringToday, {}, {&C::root, &C::intermediate}, 0},
    {"self-signed, no chain", &C::root, {}, {}, 2},
    {"impostor passed over", &C::insurer, {}, {&C::impostor, &C::intermediate, &C::root}, 0},
    {"impostor alone", &C::insurer, {}, {&C::root, &C::impostor}, 6},
    {"own intermediate, chain root", &C::insurer, {&C::intermediate}, {&C::root}, 0},
    {"own list alone verifies nothing", &C::insurer, {&C::intermediate, &C::root}, {}, 2},
    {"own list takes CAs only", &C::insurer, {&C::nonCaIntermediate, &C::root}, {}, 6},
    {"chain takes any issuer", &C::insurer, {}, {&C::nonCaIntermediate, &C::root}, 0},
    {"issue each other in the chain", &C::loopSigner, {}, {&C::loopA, &C::loopB}, 4},
    {"issue each other in the own list", &C::loopSigner, {&C::loopA, &C::loopB}, {}, 6},
    {"issue each other in both", &C::loopSigner, {&C::loopB, &C::loopA}, {&C::loopA, &C::loopB}, 4},
    // Only an anchor roots a path: being self-signed is not enough.
    {"no anchor configured", &C::insurer, {}, {&C::root, &C::intermediate}, 4, {}},
    {"self-made PKI", &C::forgedInsurer, {}, {&C::forgedRoot, &C::forgedIntermediate}, 4},
    {"self-made root, genuine names", &C::forgedIntermediate, {}, {&C::forgedRoot}, 4},
    {"anchor issued again", &C::insurer, {}, {&C::root, &C::intermediate}, 0, {&C::reissuedRoot}},
    {"anchor's name over another key", &C::insurer, {}, {&C::root, &C::intermediate}, 4,
     {&C::forgedRoot}},
    {"walk ends at an anchored intermediate", &C::insurer, {}, {&C::intermediate}, 0,
     {&C::intermediate}},
    {"another anchor than the walk's end", &C::insurer, {}, {&C::root, &C::intermediate}, 4,
     {&C::intermediate}},
};

TEST(CheckCertificate, FlagsOfEachChain) {
  const Certificates& certs = Fixture();
  for (const CheckCase& c : kCheckCases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> own{(certs.*c.subject).certificate};
    for (auto member : c.own) own.push_back((certs.*member).certificate);
    std::vector<Bytes> chain;
    for (auto member : c.chain) chain.push_back((certs.*member).certificate);
    std::vector<Bytes> anchors;
    for (auto member : c.anchors) anchors.push_back((certs.*member).certificate);
    EXPECT_EQ(CheckCertificate(ReadCertificates(own), ChainCertificates(chain),
                               ReadCertificates(anchors)),
              c.flags);
  }
}

// Only the date of the last valid day counts, compared year, month, day.
TEST(CheckCertificate, ExpiryComparesTheDateOnly) {
  const writer::TestPki& pki = test::SharedPki();
  const writer::Identity signer =
      Issue(kInsurerSubject, false, pki.insurer.key, &pki.intermediate, "20300615235959");
  const CertificateList own = ReadCertificates({signer.certificate});
  const CertificateList chain =
      ChainCertificates({pki.root.certificate, pki.intermediate.certificate});
  const struct {
    CivilDate today;
    int32_t flags;
  } rows[] = {{{2030, 6, 15}, 0}, {{2030, 6, 16}, 1}, {{2030, 7, 1}, 1},  {{2031, 1, 1}, 1},
              {{2030, 6, 14}, 0}, {{2030, 5, 30}, 0}, {{2029, 12, 31}, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.today.year) + "-" + std::to_string(row.today.month) + "-" +
                 std::to_string(row.today.day));
    EXPECT_EQ(CheckCertificate(own, chain, RootAnchor(), row.today), row.flags);
  }
}

// A root that names itself as issuer and verifies itself, but carries a
// SubjectKeyIdentifier without an AuthorityKeyIdentifier: not self-signed by
// the key-identifier rule, so only the bound on the walk ends it. Made by
// OpenSSL, whose writer can leave the AuthorityKeyIdentifier out.
TEST(CheckCertificate, SelfIssuedRootWithoutAuthorityKeyIdEnds) {
  test::TempDir dir;
  const std::string key = (test::TestDataDir() / "keys-pki" / "root.key").string();
  const auto out = dir / "loop.der";
  const test::CommandResult made = test::Run(
      "openssl req -x509 -new -key " + ShellQuote(key) +
      " -subj '/CN=Self Issued Root' -days 30 -addext 'basicConstraints=critical,CA:TRUE'"
      " -addext subjectKeyIdentifier=hash -addext authorityKeyIdentifier=none -outform DER -out " +
      ShellQuote(out.string()));
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const Bytes root = test::ReadFile(out);
  const CertificateList own = ReadCertificates({root});
  ASSERT_EQ(own.size(), 1u);
  ASSERT_EQ(own[0].selfSigned, 0);
  ASSERT_FALSE(own[0].subjectKeyId.empty());

  EXPECT_EQ(CheckCertificate(own, ChainCertificates({root}), own), 0);
  EXPECT_EQ(CheckCertificate(own, ChainCertificates({root}), RootAnchor()), CERT_NO_ROOT);
  EXPECT_EQ(CheckCertificate(ReadCertificates({root, root}), {}, RootAnchor()),
            CERT_ISSUER_UNVERIFIED | CERT_NO_ROOT);
}

// ---------------------------------------------------------------------------
// The chain reader

TEST(ParseSignedData, ReadsTheWriterChainAsDerAndBase64) {
  const Certificates& certs = Fixture();
  const std::vector<Bytes> expected{certs.root.certificate, certs.intermediate.certificate};
  const Bytes der = writer::ChainFile(expected);

  test::TempDir dir;
  test::WriteFile(dir / "chain.der", der);
  // OpenSSL's Base64 breaks lines every 64 characters.
  const test::CommandResult wrapped =
      test::Run("openssl base64 -e -in " + ShellQuote((dir / "chain.der").string()));
  ASSERT_EQ(wrapped.exitCode, 0) << wrapped.err;
  std::string crlf;
  for (char ch : wrapped.out) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);

  const struct {
    const char* name;
    Bytes input;
  } inputs[] = {{"DER", der},
                {"Base64 one line", Text(writer::Base64Text(der))},
                {"Base64 LF lines", Text(wrapped.out)},
                {"Base64 CRLF lines", Text(crlf)}};
  for (const auto& in : inputs) {
    SCOPED_TRACE(in.name);
    SignedDataRecord record;
    ASSERT_EQ(ParseSignedData(record, in.input.data(), in.input.size()), 0);
    EXPECT_EQ(RawCertificates(record.certificates), expected);
    EXPECT_EQ(Bytes(record.raw.data(), record.raw.data() + record.raw.size()), der);
  }
}

// Chains made by a second implementation: a certificates-only bundle, and
// signed messages with and without authenticated attributes (OpenSSL adds
// one the reader does not know, the S/MIME capabilities, which it passes over).
TEST(ParseSignedData, ReadsOpenSslChains) {
  const Certificates& certs = Fixture();
  test::TempDir dir;
  const auto pem = [&](const char* name, const Bytes& der) {
    test::WriteFile(dir / (std::string(name) + ".der"), der);
    const std::string path = (dir / (std::string(name) + ".pem")).string();
    const test::CommandResult r = test::Run(
        "openssl x509 -inform DER -in " +
        ShellQuote((dir / (std::string(name) + ".der")).string()) + " -out " + ShellQuote(path));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ShellQuote(path);
  };
  const std::string root = pem("root", certs.root.certificate);
  const std::string intermediate = pem("intermediate", certs.intermediate.certificate);
  const std::string insurer = pem("insurer", certs.insurer.certificate);
  const std::string key = ShellQuote((test::TestDataDir() / "keys-pki" / "insurer.key").string());
  test::WriteFile(dir / "document.txt", std::string("policy document"));
  const std::string document = ShellQuote((dir / "document.txt").string());
  const std::string sign = " -nodetach -outform DER -signer " + insurer + " -inkey " + key +
                           " -certfile " + intermediate + " -in " + document + " -out ";

  const struct {
    const char* name;
    std::string command;
    size_t certificates;
  } rows[] = {
      {"certificates only",
       "openssl crl2pkcs7 -nocrl -outform DER -certfile " + root + " -certfile " + intermediate +
           " -out ",
       2},
      {"cms with attributes", "openssl cms -sign" + sign, 2},
      {"cms without attributes", "openssl cms -sign -noattr" + sign, 2},
      {"pkcs7 with attributes", "openssl smime -sign" + sign, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto out = dir / "out.p7b";
    const test::CommandResult made = test::Run(row.command + ShellQuote(out.string()));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const Bytes chain = test::ReadFile(out);
    SignedDataRecord record;
    ASSERT_EQ(ParseSignedData(record, chain.data(), chain.size()), 0);
    ASSERT_EQ(record.certificates.size(), row.certificates);
    // OpenSSL keeps its own order; the check does not depend on it.
    EXPECT_EQ(CheckCertificate(ReadCertificates({certs.insurer.certificate}), record.certificates,
                               RootAnchor()) &
                  CERT_ISSUER_UNVERIFIED,
              0);
  }
}

// A SignedData tree with every element named, so that a case changes one.
DerNode AlgorithmIdentifier(std::string name, const char* oid) {
  return writer::Sequence(std::move(name), {writer::Oid(oid), writer::Primitive(0x05, {}, {})});
}

DerNode Attribute(std::string name, const char* oid, DerNode value) {
  return writer::Sequence(std::move(name), {writer::Oid(oid), writer::Set({std::move(value)})});
}

DerNode SignerInfo() {
  DerNode issuer = writer::Sequence(
      "issuer", {writer::Set({writer::Sequence(
                    {}, {writer::Oid("2.5.4.3"), writer::Utf8String({}, "QALV Test Root CA")})})});
  DerNode attributes = writer::Constructed(
      0xA0, "attributes",
      {Attribute("contentType", "1.2.840.113549.1.9.3", writer::Oid("1.2.840.113549.1.7.1")),
       Attribute("signingTime", "1.2.840.113549.1.9.5", writer::UtcTime("time", "300615120000Z")),
       Attribute("messageDigest", "1.2.840.113549.1.9.4", writer::OctetString(Bytes(32, 0xAB))),
       Attribute("unknown", "1.2.840.113549.1.9.15",
                 writer::Sequence(
                     {}, {writer::Sequence({}, {writer::Oid("2.16.840.1.101.3.4.1.42")})}))});
  return writer::Sequence(
      "signerInfo",
      {writer::Integer("signerVersion", 1),
       writer::Sequence("issuerAndSerial", {std::move(issuer), writer::Integer("serial", 0x1234)}),
       AlgorithmIdentifier("digestAlgorithm", "2.16.840.1.101.3.4.2.1"), std::move(attributes),
       AlgorithmIdentifier("encryptionAlgorithm", "1.2.840.113549.1.1.1"),
       writer::Primitive(0x04, "encryptedDigest", Bytes(64, 0x5A))});
}

DerNode SignedDataTree(const std::vector<Bytes>& certificates) {
  Bytes certificateBytes;
  for (const Bytes& c : certificates)
    certificateBytes.insert(certificateBytes.end(), c.begin(), c.end());
  DerNode digestAlgorithms = writer::Set({AlgorithmIdentifier({}, "2.16.840.1.101.3.4.2.1")});
  digestAlgorithms.name = "digestAlgorithms";
  DerNode signerInfos = writer::Set({SignerInfo()});
  signerInfos.name = "signerInfos";
  DerNode signedData = writer::Sequence(
      "signedData", {writer::Integer("version", 1), std::move(digestAlgorithms),
                     writer::Sequence("content", {writer::Oid("1.2.840.113549.1.7.1")}),
                     writer::Primitive(0xA0, "certificates", std::move(certificateBytes)),
                     std::move(signerInfos)});
  return writer::Sequence("contentInfo",
                          {writer::Oid("1.2.840.113549.1.7.2"),
                           writer::Constructed(0xA0, "explicit", {std::move(signedData)})});
}

struct ReaderCase {
  const char* name;
  std::function<void(DerNode&)> change;
  int32_t code;
  size_t certificates;  // read on success
};

const ReaderCase kReaderCases[] = {
    {"signed, with attributes", [](DerNode&) {}, 0, 2},
    {"certificates only", [](DerNode& t) { t.At("signerInfos").children.clear(); }, 0, 2},
    {"no certificates", [](DerNode& t) { t.Remove("certificates"); }, 0, 0},
    {"no digest algorithm", [](DerNode& t) { t.At("digestAlgorithms").children.clear(); }, 0, 2},
    {"two digest algorithms",
     [](DerNode& t) {
       t.At("digestAlgorithms").children.push_back(AlgorithmIdentifier({}, "1.3.14.3.2.26"));
     },
     0, 2},
    {"content carried",
     [](DerNode& t) {
       t.At("content").children.push_back(
           writer::Constructed(0xA0, {}, {writer::OctetString(Text("document"))}));
     },
     0, 2},
    {"no attributes", [](DerNode& t) { t.Remove("attributes"); }, 0, 2},
    // The [0] length is not trusted as the end of the certificates.
    {"certificates past their [0] length",
     [](DerNode& t) { t.At("certificates").lengthBytes = Bytes{0x00}; }, 0, 2},
    {"digest algorithm not a SEQUENCE",
     [](DerNode& t) { t.At("digestAlgorithms").children[0].tag = 0x31; }, 0xD6, 0},
    {"version not an INTEGER", [](DerNode& t) { t.At("version").tag = 0x04; }, 0x16, 0},
    {"version too long",
     [](DerNode& t) {
       t.At("version").content = Bytes{0x01, 0, 0, 0, 0};
     },
     0x18, 0},
    {"content type not an OID", [](DerNode& t) { t.children[0].tag = 0x04; }, 0x16, 0},
    {"explicit tag missing", [](DerNode& t) { t.At("explicit").tag = 0xA1; }, 0x16, 0},
    {"content with a bad [0]",
     [](DerNode& t) { t.At("content").children.push_back(writer::OctetString(Text("x"))); }, 0x16,
     0},
    {"a broken certificate",
     [](DerNode& t) {
       Bytes& bytes = t.At("certificates").content;
       bytes.insert(bytes.end(), {0x30, 0x03, 0x02, 0x01, 0x00});
     },
     0x76, 0},
    {"signerInfos not a SET", [](DerNode& t) { t.At("signerInfos").tag = 0x04; }, 0x16, 0},
    // Whatever SEQUENCE follows the certificates is taken for one more.
    {"signerInfos a SEQUENCE", [](DerNode& t) { t.At("signerInfos").tag = 0x30; }, 0xD6, 0},
    {"two signers", [](DerNode& t) { t.At("signerInfos").children.push_back(SignerInfo()); }, 0x1A,
     0},
    {"bytes after the encrypted digest",
     [](DerNode& t) { t.At("signerInfo").children.push_back(writer::Integer({}, 0)); }, 0x1A, 0},
    {"encrypted digest not an OCTET STRING", [](DerNode& t) { t.At("encryptedDigest").tag = 0x03; },
     0x16, 0},
    {"issuer name empty", [](DerNode& t) { t.At("issuer").children.clear(); }, 0xF4, 0},
    {"serial a BOOLEAN", [](DerNode& t) { t.At("serial").tag = 0x01; }, 0xB6, 0},
    {"digest algorithm missing its OID",
     [](DerNode& t) { t.At("digestAlgorithm").children.clear(); }, 0xD4, 0},
    {"signing time of five numbers", [](DerNode& t) { t.At("time").content = Text("3006151200Z"); },
     0x100, 0},
    {"signing time not digits", [](DerNode& t) { t.At("time").content = Text("30061512000xZ"); },
     0x100, 0},
    {"signing time a GeneralizedTime", [](DerNode& t) { t.At("time").tag = 0x18; }, 0x16, 0},
    {"message digest not an OCTET STRING",
     [](DerNode& t) { t.At("messageDigest").children[1].children[0].tag = 0x02; }, 0x16, 0},
    {"two content types",
     [](DerNode& t) {
       t.At("contentType").children[1].children.push_back(writer::Oid("1.2.840.113549.1.7.1"));
     },
     0x1A, 0},
    {"attribute without a SET", [](DerNode& t) { t.At("unknown").children[1].tag = 0x30; }, 0x16,
     0},
};

TEST(ParseSignedData, ReadsAndRefusesEachForm) {
  const Certificates& certs = Fixture();
  const std::vector<Bytes> chain{certs.root.certificate, certs.intermediate.certificate};
  for (const ReaderCase& c : kReaderCases) {
    SCOPED_TRACE(c.name);
    DerNode tree = SignedDataTree(chain);
    c.change(tree);
    const Bytes der = writer::Serialize(tree);
    SignedDataRecord record;
    EXPECT_EQ(ParseSignedData(record, der.data(), der.size()), c.code);
    if (c.code == 0) {
      EXPECT_EQ(record.certificates.size(), c.certificates);
    }
  }
}

TEST(ParseSignedData, RefusesTheOuterForm) {
  const Bytes chain = writer::ChainFile({Fixture().root.certificate});
  Bytes trailing = chain;
  trailing.push_back(0x00);
  Bytes longForm = chain;
  longForm[1] = 0x83;
  Bytes cut(chain.begin(), chain.end() - 1);
  const struct {
    const char* name;
    Bytes input;
    int32_t code;
  } rows[] = {
      {"empty", {}, 0x14},
      {"plain text", Text("service unavailable"), 0x16},
      {"byte after the ContentInfo", trailing, 0x1A},
      {"three length bytes", longForm, 0x18},
      {"last byte missing", cut, 0x14},
      {"Base64 with a bad character", Text("MII\\/"), 0x52},
      {"Base64 of a bad chain", Text("MTIz"), 0x16},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SignedDataRecord record;
    EXPECT_EQ(ParseSignedData(record, row.input.data(), row.input.size()), row.code);
  }
}

// ---------------------------------------------------------------------------
// The chain store

// The certificate-chain service on 127.0.0.1: answers every request with the
// reply it was given and counts the requests.
class ChainService {
 public:
  ChainService() {
    server_.Post("/chain", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_;
      lastBody_ = request.body;
      response.status = status_;
      response.set_content(reply_, "application/json");
    });
    serving_.emplace(server_);
  }

  void Answer(int status, std::string reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = status;
    reply_ = std::move(reply);
  }
  int requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::string lastBody() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastBody_;
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(serving_->port()) + "/chain"; }

 private:
  httplib::Server server_;
  std::mutex mutex_;
  int status_ = 200;
  std::string reply_;
  int requests_ = 0;
  std::string lastBody_;
  // Last, so the server stops before the fields its handler uses go.
  std::optional<test::Serving> serving_;
};

std::string ChainReply(const std::string& chainText) {
  return "{\"code\":\"0000\",\"chain\":\"" + chainText + "\"}";
}

std::string Base64Chain(const std::vector<Bytes>& certificates) {
  return writer::Base64Text(writer::ChainFile(certificates));
}

// The authority key identifier as OpenSSL reads it from the certificate.
std::string AuthorityKeyIdByOpenSsl(const Bytes& certificate) {
  test::TempDir dir;
  test::WriteFile(dir / "c.der", certificate);
  const test::CommandResult r =
      test::Run("openssl x509 -inform DER -noout -ext authorityKeyIdentifier -in " +
                ShellQuote((dir / "c.der").string()));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // "X509v3 Authority Key Identifier:" and then the bytes as "AB:CD:..."
  // (older releases put "keyid:" in front).
  const size_t lineEnd = r.out.find('\n');
  std::string line = lineEnd == std::string::npos ? std::string() : r.out.substr(lineEnd + 1);
  if (const size_t at = line.find("keyid:"); at != std::string::npos) line.erase(0, at + 6);
  std::string hex;
  for (char ch : line) {
    if (ch == '\n') break;
    if (std::isxdigit(static_cast<unsigned char>(ch))) hex += ch;
  }
  return hex;
}

class ChainStore : public ::testing::Test {
 protected:
  void SetUp() override {
    state.workFolder = dir.path().string() + "/";
    state.certChainUrl = service.url();
    state.ownerWindow = &window;
    state.trust = test::SharedTrust();
  }

  int32_t Check(const Bytes& certificate) {
    const CertificateList own = ReadCertificates({certificate});
    if (own.empty()) return -100;
    return CheckAgainstCaChain(state, own, own[0].authorityKeyId);
  }

  std::filesystem::path ChainPath() const {
    static const std::string name = AuthorityKeyIdByOpenSsl(Fixture().insurer.certificate);
    return dir / name;
  }

  // Stores a chain text sealed under the signers' key identifier, as if it
  // had been fetched before.
  void Store(const Bytes& chainText) {
    const std::string name = ChainPath().filename().string();
    Bytes sealed(chainText.size() + seal::kOverhead);
    size_t length = sealed.size();
    ASSERT_EQ(SealBuffer(chainText.data(), chainText.size(), name.c_str(), sealed.data(), length),
              0);
    test::WriteFile(ChainPath(), sealed);
  }

  // The unsealed text of the stored chain file.
  std::string StoredText() const {
    const Bytes sealed = test::ReadFile(ChainPath());
    Bytes plain(sealed.size());
    size_t length = plain.size();
    const std::string name = ChainPath().filename().string();
    EXPECT_EQ(UnsealBuffer(sealed.data(), sealed.size(), name.c_str(), plain.data(), length), 0);
    plain.resize(length);
    return AsString(plain);
  }

  test::TempDir dir;
  ChainService service;
  test::RecordingOwnerWindow window;
  PolicyState state;
};

TEST_F(ChainStore, FirstCheckFetchesLaterChecksReadTheFile) {
  const Certificates& certs = Fixture();
  const std::string chainText =
      Base64Chain({certs.root.certificate, certs.intermediate.certificate});
  service.Answer(200, ChainReply(chainText));

  EXPECT_EQ(Check(certs.insurer.certificate), 0);
  EXPECT_EQ(service.requests(), 1);
  const std::string aki = ChainPath().filename().string();
  ASSERT_EQ(aki.size(), 40u);
  EXPECT_NE(service.lastBody().find("&aki=" + aki), std::string::npos) << service.lastBody();

  // Stored sealed under its own name, holding the text as delivered.
  const Bytes sealed = test::ReadFile(ChainPath());
  EXPECT_EQ(StoredText(), chainText);
  EXPECT_EQ(std::filesystem::status(ChainPath()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  EXPECT_EQ(Check(certs.authority.certificate), 0);
  EXPECT_EQ(Check(certs.insurer.certificate), 0);
  EXPECT_EQ(service.requests(), 1);
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(ChainStore, DamagedFileGivesMinusOneWithoutNewFetch) {
  const Certificates& certs = Fixture();
  service.Answer(200,
                 ChainReply(Base64Chain({certs.root.certificate, certs.intermediate.certificate})));
  ASSERT_EQ(Check(certs.insurer.certificate), 0);

  Bytes damaged = test::ReadFile(ChainPath());
  damaged.back() ^= 0x01;
  test::WriteFile(ChainPath(), damaged);
  EXPECT_EQ(Check(certs.insurer.certificate), -1);
  EXPECT_EQ(Check(certs.insurer.certificate), -1);
  EXPECT_EQ(service.requests(), 1);
  EXPECT_EQ(test::ReadFile(ChainPath()), damaged);
}

// A stored chain that leads to an anchor is used as it is, DER or Base64.
TEST_F(ChainStore, StoredChainGivesTheCheckResult) {
  const Certificates& certs = Fixture();
  const std::vector<Bytes> full{certs.root.certificate, certs.intermediate.certificate};
  Bytes badSignature = certs.insurer.certificate;
  badSignature.back() ^= 0x01;
  Bytes badSignatureExpired = certs.insurerExpiredYesterday.certificate;
  badSignatureExpired.back() ^= 0x01;
  const struct {
    const char* name;
    Bytes chainText;
    const Bytes& certificate;
    int32_t result;
  } rows[] = {
      {"DER", writer::ChainFile(full), certs.insurer.certificate, 0},
      {"Base64", Text(Base64Chain(full)), certs.insurer.certificate, 0},
      {"reverse order", writer::ChainFile({full[1], full[0]}), certs.insurer.certificate, 0},
      {"signature not the issuer's", writer::ChainFile(full), badSignature, 6},
      {"signature not the issuer's, expired", writer::ChainFile(full), badSignatureExpired, 7},
      {"expired yesterday", writer::ChainFile(full), certs.insurerExpiredYesterday.certificate, 0},
      {"expiring today", writer::ChainFile(full), certs.insurerExpiringToday.certificate, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Store(row.chainText);
    EXPECT_EQ(Check(row.certificate), row.result);
  }
  EXPECT_EQ(service.requests(), 0);
}

TEST_F(ChainStore, ServiceErrorGivesMinusOneAndAsksAgainNextTime) {
  service.Answer(500, "{}");
  EXPECT_EQ(Check(Fixture().insurer.certificate), -1);
  EXPECT_FALSE(std::filesystem::exists(ChainPath()));
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "連線失敗(StatusCode=500)");
  EXPECT_EQ(Check(Fixture().insurer.certificate), -1);
  EXPECT_EQ(service.requests(), 2);
}

// A stored file that cannot be read as a chain is left in a dump file named
// after the reader's code, and keeps answering -1 without a fetch.
TEST_F(ChainStore, UnreadableStoredChainLeavesADumpFile) {
  const struct {
    const char* name;
    std::string chainText;
    const char* dump;
  } rows[] = {
      {"plain message", "service unavailable", "caParse=22.p7b"},
      // A JSON-escaped slash kept with its backslash, which Base64 refuses.
      {"escaped slash", "MIIB\\/w==", "caParse=82.p7b"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Store(Text(row.chainText));
    EXPECT_EQ(Check(Fixture().insurer.certificate), -1);
    EXPECT_EQ(Check(Fixture().insurer.certificate), -1);
    ASSERT_TRUE(std::filesystem::exists(dir / row.dump));
    EXPECT_EQ(AsString(test::ReadFile(dir / row.dump)), row.chainText);
  }
  EXPECT_EQ(service.requests(), 0);
}

// What a chain service or a file in the work folder offers is kept and used
// only when it leads from the requested key identifier to an anchor.
TEST_F(ChainStore, OnlyChainsLeadingToAnAnchorAreKeptOrUsed) {
  const Certificates& certs = Fixture();
  const std::string genuine =
      Base64Chain({certs.root.certificate, certs.intermediate.certificate});
  const std::string planted = Base64Chain({certs.forgedRoot.certificate,
                                           certs.forgedIntermediate.certificate});
  const std::string untrusted = "憑證鏈無法連結至信任的根憑證";
  const struct {
    const char* name;
    std::optional<std::string> stored;  // a chain file already in the work folder
    std::string served;                 // the chain the service answers with
    int32_t result;
    int requests;                    // over two checks in one opening
    std::optional<std::string> kept;    // the chain file afterwards
    size_t boxes;
  } rows[] = {
      {"genuine chain fetched", {}, genuine, 0, 1, genuine, 0},
      {"intermediate without its root", {}, Base64Chain({certs.intermediate.certificate}), -1, 1,
       {}, 1},
      {"genuine intermediate under a forged root", {},
       Base64Chain({certs.forgedRoot.certificate, certs.intermediate.certificate}), -1, 1, {}, 1},
      {"forged names over other keys", {}, planted, -1, 1, {}, 1},
      {"chain of the root alone", {}, Base64Chain({certs.root.certificate}), -1, 1, {}, 1},
      {"not a chain", {}, "service unavailable", -1, 1, {}, 1},
      {"planted file replaced", planted, genuine, 0, 1, genuine, 0},
      {"planted file, service poisoned too", planted, planted, -1, 1, planted, 1},
      {"genuine file kept", genuine, planted, 0, 0, genuine, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(ChainPath());
    if (row.stored) Store(Text(*row.stored));
    service.Answer(200, ChainReply(row.served));
    const int before = service.requests();
    window.messages.clear();
    state.chainsFetched.clear();

    EXPECT_EQ(Check(certs.insurer.certificate), row.result);
    EXPECT_EQ(Check(certs.authority.certificate), row.result);
    EXPECT_EQ(service.requests() - before, row.requests);
    if (row.kept) {
      EXPECT_EQ(StoredText(), *row.kept);
    } else {
      EXPECT_FALSE(std::filesystem::exists(ChainPath()));
    }
    ASSERT_EQ(window.messages.size(), row.boxes);
    for (const auto& box : window.messages) {
      EXPECT_EQ(box.caption, "憑證鏈更新錯誤");
      EXPECT_EQ(box.text, untrusted);
    }
  }
}

// A chain refused in one opening is asked for again in the next, and a
// genuine package then passes once the genuine chain is served.
TEST_F(ChainStore, PoisonedChainIsNotRememberedAcrossOpenings) {
  const Certificates& certs = Fixture();
  service.Answer(200, ChainReply(Base64Chain({certs.forgedRoot.certificate,
                                              certs.forgedIntermediate.certificate})));
  EXPECT_EQ(Check(certs.insurer.certificate), -1);
  EXPECT_FALSE(std::filesystem::exists(ChainPath()));

  state.chainsFetched.clear();
  service.Answer(200,
                 ChainReply(Base64Chain({certs.root.certificate, certs.intermediate.certificate})));
  EXPECT_EQ(Check(certs.insurer.certificate), 0);
  EXPECT_EQ(service.requests(), 2);
}

// A symbolic link at the chain's name, pointing where no file is yet, is
// replaced by the chain file: nothing is written through it.
TEST_F(ChainStore, LinkAtTheChainsNameIsReplacedNotFollowed) {
  const Certificates& certs = Fixture();
  const auto target = dir / "elsewhere";
  std::filesystem::create_symlink(target, ChainPath());
  service.Answer(200,
                 ChainReply(Base64Chain({certs.root.certificate, certs.intermediate.certificate})));
  EXPECT_EQ(Check(certs.insurer.certificate), 0);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(ChainPath())));
}

// Identifiers up to 65 bytes name a chain file; longer or empty ones are
// refused before any request. The long one is carried by a CA that OpenSSL
// issues under the root with exactly that subject key identifier.
TEST_F(ChainStore, KeyIdentifierLengths) {
  const Certificates& certs = Fixture();
  const Bytes longest(65, 0xC3);
  const Bytes tooLong(66, 0xC3);
  const std::string keys = (test::TestDataDir() / "keys-pki").string();
  test::WriteFile(dir / "root.der", certs.root.certificate);
  test::WriteFile(dir / "ext", "basicConstraints=critical,CA:TRUE\nsubjectKeyIdentifier=" +
                                   Hex(longest) + "\n");
  const test::CommandResult made = test::Run(
      "openssl req -new -key " + ShellQuote(keys + "/authority.key") +
      " -subj '/CN=Long Key Identifier CA' | openssl x509 -req -CA " +
      ShellQuote((dir / "root.der").string()) + " -CAform DER -CAkey " +
      ShellQuote(keys + "/root.key") + " -set_serial 7 -days 30 -extfile " +
      ShellQuote((dir / "ext").string()) + " -outform DER -out " +
      ShellQuote((dir / "long.der").string()));
  ASSERT_EQ(made.exitCode, 0) << made.err;
  service.Answer(200, ChainReply(Base64Chain({certs.root.certificate,
                                              certs.intermediate.certificate,
                                              test::ReadFile(dir / "long.der")})));
  const CertificateList own = ReadCertificates({certs.insurer.certificate});

  EXPECT_EQ(CheckAgainstCaChain(state, own, {}), -1);
  EXPECT_EQ(CheckAgainstCaChain(state, own, der::Bytes(longest).first(0)), -1);
  EXPECT_EQ(CheckAgainstCaChain(state, own, tooLong), -1);
  EXPECT_EQ(CheckAgainstCaChain(state, {}, longest), -1);
  EXPECT_EQ(service.requests(), 0);

  EXPECT_EQ(CheckAgainstCaChain(state, own, longest), 0);
  EXPECT_EQ(service.requests(), 1);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / Hex(longest)));
  EXPECT_EQ(Hex(longest).size(), 130u);
}

}  // namespace
}  // namespace qalv
