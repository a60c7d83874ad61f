// The X.509 reader on certificates built here with the project's DER writer,
// so that every field can be changed or broken in one line. The reader checks
// structure only, so the signature bytes are filler. Dates and Base64 text are
// cross-checked with OpenSSL's command line.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>
#include <mbedtls/bignum.h>

#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "tests/support/test_support.h"
#include "writer/der_writer.h"
#include "x509/certificate.h"

namespace qalv {
namespace {

using test::Hex;

using test::Bytes;
using test::ShellQuote;
using writer::BitString;
using writer::DerNode;
using writer::Oid;
using writer::Primitive;
using writer::Sequence;
using writer::Serialize;

namespace tag {
constexpr uint8_t kBoolean = 0x01;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kPrintableString = 0x13;
constexpr uint8_t kT61String = 0x14;
constexpr uint8_t kIa5String = 0x16;
constexpr uint8_t kUtcTime = 0x17;
constexpr uint8_t kGeneralizedTime = 0x18;
constexpr uint8_t kUniversalString = 0x1C;
constexpr uint8_t kBmpString = 0x1E;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kContext0 = 0xA0;
constexpr uint8_t kContext3 = 0xA3;
}  // namespace tag

constexpr const char* kSha256WithRsa = "1.2.840.113549.1.1.11";
constexpr const char* kRsaEncryption = "1.2.840.113549.1.1.1";
constexpr const char* kBasicConstraints = "2.5.29.19";
constexpr const char* kSubjectKeyId = "2.5.29.14";
constexpr const char* kAuthorityKeyId = "2.5.29.35";

const Bytes kSerial = {0x00, 0xFE, 0xDC, 0x01};
const Bytes kKeyId = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA,
                      0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05};
const Bytes kOtherKeyId = {0x0A, 0x0B, 0x0C, 0x0D};
const Bytes kE65537 = {0x01, 0x00, 0x01};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

DerNode Null() { return Primitive(tag::kNull, {}, {}); }
DerNode Boolean(bool value) {
  return Primitive(tag::kBoolean, {}, {value ? uint8_t{0xFF} : uint8_t{0}});
}
DerNode SmallInteger(std::string name, uint8_t value) {
  return Primitive(tag::kInteger, std::move(name), {value});
}

// A positive INTEGER content of exactly `bits` bits, odd unless told.
Bytes Modulus(size_t bits, bool odd = true) {
  Bytes n((bits + 7) / 8, 0x5A);
  n[0] = static_cast<uint8_t>(1u << ((bits - 1) % 8));
  if (odd)
    n.back() |= 1;
  else
    n.back() &= 0xFE;
  if (n[0] & 0x80) n.insert(n.begin(), 0x00);
  return n;
}

DerNode Attribute(std::string name, const char* oid, uint8_t stringTag, const Bytes& value) {
  return writer::Set({Sequence({}, {Oid(oid), Primitive(stringTag, std::move(name), value)})});
}

DerNode Name(const std::string& prefix, const std::string& commonName) {
  return Sequence(prefix,
                  {Attribute(prefix + "C", "2.5.4.6", tag::kPrintableString, Text("TW")),
                   Attribute(prefix + "O", "2.5.4.10", tag::kUtf8String, Text("QALV 測試")),
                   Attribute(prefix + "CN", "2.5.4.3", tag::kUtf8String, Text(commonName))});
}

DerNode RsaKey(const Bytes& n, const Bytes& e) {
  return Sequence(
      {}, {Primitive(tag::kInteger, "modulus", n), Primitive(tag::kInteger, "exponent", e)});
}

DerNode Extension(std::string name, const char* oid, std::optional<bool> critical,
                  const DerNode& value) {
  std::vector<DerNode> parts{Oid(oid)};
  if (critical) parts.push_back(Boolean(*critical));
  parts.push_back(writer::OctetString(Serialize(value)));
  return Sequence(std::move(name), std::move(parts));
}

DerNode CaConstraints(std::optional<bool> critical, std::vector<DerNode> fields) {
  return Extension("basicConstraints", kBasicConstraints, critical,
                   Sequence({}, std::move(fields)));
}

DerNode SubjectKeyId(std::optional<bool> critical = std::nullopt) {
  return Extension("subjectKeyId", kSubjectKeyId, critical, writer::OctetString(kKeyId));
}

DerNode AuthorityKeyId(std::vector<DerNode> fields) {
  return Extension("authorityKeyId", kAuthorityKeyId, std::nullopt,
                   Sequence({}, std::move(fields)));
}

DerNode Algorithm(const std::string& prefix, const char* oid) {
  DerNode oidNode = Oid(oid);
  oidNode.name = prefix + "Oid";
  DerNode null = Null();
  null.name = prefix + "Null";
  return Sequence(prefix, {oidNode, null});
}

// A version 3 self-signed CA as the desktop reader meets them: sha256WithRSA,
// a 2048-bit key, critical BasicConstraints cA, and equal key identifiers.
DerNode BaseCertificate() {
  DerNode tbs = Sequence(
      "tbs",
      {writer::Constructed(tag::kContext0, "version", {SmallInteger("versionNumber", 2)}),
       Primitive(tag::kInteger, "serial", kSerial), Algorithm("sigAlg", kSha256WithRsa),
       Name("issuer", "QALV X509 Root"),
       Sequence("validity", {writer::UtcTime("notBefore", "250101000000Z"),
                             writer::UtcTime("notAfter", "351231235959Z")}),
       Name("subject", "QALV X509 Root"),
       Sequence("keyInfo", {Algorithm("keyAlgorithm", kRsaEncryption),
                            BitString("keyBits", Serialize(RsaKey(Modulus(2048), kE65537)))}),
       writer::Constructed(
           tag::kContext3, "extensions",
           {Sequence("extensionList", {CaConstraints(true, {Boolean(true)}), SubjectKeyId(),
                                       AuthorityKeyId({Primitive(0x80, {}, kKeyId)})})})});
  return Sequence("certificate", {tbs, Algorithm("outerAlg", kSha256WithRsa),
                                  BitString("signature", Bytes(256, 0xA5))});
}

void SetKey(DerNode& cert, const Bytes& n, const Bytes& e) {
  writer::SetBitStringValue(cert.At("keyBits"), Serialize(RsaKey(n, e)));
}

void SetSignatureOid(DerNode& cert, const char* oid) {
  cert.At("sigAlgOid").content = Oid(oid).content;
  cert.At("outerAlgOid").content = Oid(oid).content;
}

Bytes ViewBytes(der::Bytes view) { return Bytes(view.begin(), view.end()); }

std::string TimeText(const der::Time& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// Every field of a record as text, to compare two reads of one certificate.
std::string Describe(const X509Certificate& c) {
  std::ostringstream out;
  const auto view = [&out](const char* name, der::Bytes v) {
    out << name << "=" << Hex(ViewBytes(v)) << "\n";
  };
  const auto tagged = [&out](const TaggedBytes& v) {
    out << static_cast<int>(v.tag) << ":" << Hex(ViewBytes(v.bytes));
  };
  const auto name = [&out, &tagged](const std::vector<NameEntry>& entries) {
    for (const NameEntry& e : entries) {
      out << Hex(ViewBytes(e.oid)) << "/";
      tagged(e.value);
      out << ";";
    }
    out << "\n";
  };
  const auto mpi = [&out](const mbedtls_mpi& x) {
    Bytes bytes(mbedtls_mpi_size(&x));
    if (mbedtls_mpi_write_binary(&x, bytes.data(), bytes.size()) != 0) out << "?";
    out << Hex(bytes) << "\n";
  };
  view("raw", c.raw);
  view("tbs", c.tbs);
  out << "version=" << c.version << "\n";
  out << "serial=";
  tagged(c.serial);
  out << "\n";
  view("sigAlgorithm", c.sigAlgorithm);
  view("issuerRaw", c.issuerRaw);
  view("subjectRaw", c.subjectRaw);
  name(c.issuer);
  name(c.subject);
  out << TimeText(c.validFrom) << " " << TimeText(c.validTo) << "\n";
  view("publicKeyAlgorithm", c.publicKeyAlgorithm);
  mpi(c.publicKey.get()->N);
  mpi(c.publicKey.get()->E);
  out << "keyLength=" << c.publicKey.length() << "\n";
  view("issuerUniqueId", c.issuerUniqueId);
  view("subjectUniqueId", c.subjectUniqueId);
  view("extensions", c.extensions);
  view("authorityKeyId", c.authorityKeyId);
  view("subjectKeyId", c.subjectKeyId);
  out << "isCa=" << c.isCa << " selfSigned=" << c.selfSigned << "\n";
  view("sigAlgorithm2", c.sigAlgorithm2);
  view("signature", c.signature);
  return out.str();
}

int32_t Parse(CertificateList& list, const Bytes& bytes) {
  return ParseCertificate(list, bytes.data(), bytes.size());
}

// Every code the reader may give: an ASN.1 code alone or with a class, a
// class alone, the whole-certificate verdicts, and the Base64 codes.
bool IsReaderCode(int32_t code) {
  static const std::set<int32_t> kVerdicts = {x509::kNoMemory,
                                              x509::kUnknownVersion,
                                              x509::kUnknownSignatureAlgorithm,
                                              x509::kUnknownPublicKeyAlgorithm,
                                              x509::kSignatureAlgorithmMismatch,
                                              x509::kKeyCheckFailed,
                                              x509::kClassBase64 | 0x10,
                                              x509::kClassBase64 | x509::kBase64InvalidCharacter};
  if (kVerdicts.count(code) != 0) return true;
  const int32_t asn1 = code & 0x1F;
  const int32_t kind = code & ~0x1F;
  const bool asn1Code = asn1 == x509::kOutOfData || asn1 == x509::kUnexpectedTag ||
                        asn1 == x509::kInvalidLength || asn1 == x509::kLengthMismatch;
  if (kind == 0) return asn1Code;
  return kind >= x509::kClassFormat && kind <= x509::kClassExtensions && (asn1 == 0 || asn1Code);
}

class X509Reader : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    trace::SetLogSink({});
    trace::SetDebugSink({});
  }

  // Runs OpenSSL on `der` written to a file; its standard output.
  std::string Openssl(const Bytes& der, const std::string& arguments) {
    const auto path = dir_ / "cert.der";
    test::WriteFile(path, der);
    const test::CommandResult r =
        test::Run("openssl " + arguments + " -in " + ShellQuote(path.string()));
    EXPECT_EQ(r.exitCode, 0) << arguments << ": " << r.err;
    return r.out;
  }

  test::TempDir dir_;
};

TEST_F(X509Reader, ReadsEveryFieldAsBuilt) {
  const DerNode node = BaseCertificate();
  const Bytes der = Serialize(node);
  CertificateList list;
  ASSERT_EQ(Parse(list, der), 0);
  ASSERT_EQ(list.size(), 1u);
  const X509Certificate& c = list[0];

  EXPECT_EQ(ViewBytes(c.raw), der);
  EXPECT_EQ(ViewBytes(c.tbs), Serialize(node.At("tbs")));
  EXPECT_EQ(c.version, 3);
  EXPECT_EQ(c.serial.tag, tag::kInteger);
  EXPECT_EQ(ViewBytes(c.serial.bytes), kSerial);
  EXPECT_EQ(ViewBytes(c.sigAlgorithm), Oid(kSha256WithRsa).content);
  EXPECT_EQ(ViewBytes(c.sigAlgorithm2), Oid(kSha256WithRsa).content);
  EXPECT_EQ(ViewBytes(c.issuerRaw), Serialize(node.At("issuer")));
  EXPECT_EQ(ViewBytes(c.subjectRaw), Serialize(node.At("subject")));
  ASSERT_EQ(c.subject.size(), 3u);
  EXPECT_EQ(ViewBytes(c.subject[0].oid), Oid("2.5.4.6").content);
  EXPECT_EQ(c.subject[0].value.tag, tag::kPrintableString);
  EXPECT_EQ(ViewBytes(c.subject[1].value.bytes), Text("QALV 測試"));
  EXPECT_EQ(c.subject[2].value.tag, tag::kUtf8String);
  EXPECT_EQ(ViewBytes(c.issuer[2].value.bytes), Text("QALV X509 Root"));
  EXPECT_EQ(TimeText(c.validFrom), "2025-01-01 00:00:00");
  EXPECT_EQ(TimeText(c.validTo), "2035-12-31 23:59:59");
  EXPECT_EQ(ViewBytes(c.publicKeyAlgorithm), Oid(kRsaEncryption).content);
  EXPECT_EQ(mbedtls_mpi_bitlen(&c.publicKey.get()->N), 2048u);
  EXPECT_EQ(c.publicKey.length(), 256u);
  EXPECT_EQ(mbedtls_mpi_cmp_int(&c.publicKey.get()->E, 65537), 0);
  EXPECT_EQ(ViewBytes(c.extensions), Serialize(node.At("extensionList")));
  EXPECT_EQ(ViewBytes(c.subjectKeyId), kKeyId);
  EXPECT_EQ(ViewBytes(c.authorityKeyId), kKeyId);
  EXPECT_EQ(c.isCa, 1);
  EXPECT_EQ(c.selfSigned, 1);
  EXPECT_TRUE(c.issuerUniqueId.empty());
  EXPECT_EQ(ViewBytes(c.signature), Bytes(256, 0xA5));
}

TEST_F(X509Reader, DerAndBase64TextGiveTheSameRecord) {
  const Bytes der = Serialize(BaseCertificate());
  CertificateList list;
  ASSERT_EQ(Parse(list, der), 0);
  const std::string oneLine = Openssl(der, "base64 -A");
  const std::string lines = Openssl(der, "base64");  // 64 columns, LF
  ASSERT_NE(lines.find('\n'), lines.size() - 1) << "expected several lines";
  std::string crlf;
  for (char ch : lines) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);

  for (const std::string& text : {oneLine, lines, crlf}) {
    SCOPED_TRACE(text.substr(0, 80));
    CertificateList fromText;
    ASSERT_EQ(Parse(fromText, Text(text)), 0);
    EXPECT_EQ(ViewBytes(fromText[0].raw), der);
    EXPECT_EQ(Describe(fromText[0]), Describe(list[0]));
  }
}

TEST_F(X509Reader, RefusesBadBase64Text) {
  const Bytes der = Serialize(BaseCertificate());
  const std::string text = Openssl(der, "base64 -A");
  const std::string trailing = Openssl(Concat(der, {0x00}), "base64 -A");
  const struct {
    const char* name;
    std::string text;
    int32_t expected;
  } cases[] = {
      {"invalid character", text.substr(0, 40) + "!" + text.substr(40), 0x52},
      {"space inside a line", text.substr(0, 40) + " " + text.substr(40), 0x52},
      {"padding inside", text.substr(0, 40) + "=" + text.substr(40), 0x52},
      {"cut short", text.substr(0, text.size() / 2), 0x60},
      {"one byte after the certificate", trailing, 0x7A},
      {"PEM armour is not Base64 text", "-----BEGIN CERTIFICATE-----\n" + text, 0x60},
  };
  for (const auto& c : cases) {
    CertificateList list;
    EXPECT_EQ(Parse(list, Text(c.text)), c.expected) << c.name;
    EXPECT_TRUE(list.empty()) << c.name;
  }
}

struct EditCase {
  const char* name;
  std::function<void(DerNode&)> edit;
  int32_t expected;
  std::function<void(const X509Certificate&)> check = {};  // for accepted ones
};

void RunEdits(const std::vector<EditCase>& cases) {
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    DerNode cert = BaseCertificate();
    c.edit(cert);
    CertificateList list;
    const int32_t result = Parse(list, Serialize(cert));
    EXPECT_EQ(result, c.expected) << std::hex << "0x" << result;
    EXPECT_EQ(list.size(), result == 0 ? 1u : 0u);
    if (result == 0 && c.check) c.check(list[0]);
  }
}

TEST_F(X509Reader, CertificateTbsVersionAndSerial) {
  const auto lengthOf = [](const DerNode& node) { return writer::SerializeContent(node).size(); };
  RunEdits({
      {"certificate tagged SET", [](DerNode& c) { c.tag = tag::kSet; }, 0x60},
      {"certificate length in three bytes",
       [&](DerNode& c) { c.lengthBytes = writer::LongFormLength(lengthOf(c), 3); }, 0x60},
      {"certificate length one short",
       [&](DerNode& c) { c.lengthBytes = writer::MinimalLength(lengthOf(c) - 1); }, 0x7A},
      {"TBS tagged SET", [](DerNode& c) { c.At("tbs").tag = tag::kSet; }, 0x76},
      {"TBS of indefinite length", [](DerNode& c) { c.At("tbs").lengthBytes = Bytes{0x80}; }, 0x78},
      {"TBS longer than the certificate",
       [&](DerNode& c) {
         c.At("tbs").lengthBytes = writer::MinimalLength(lengthOf(c.At("tbs")) + 300);
       },
       0x74},
      {"TBS with an element after the extensions",
       [](DerNode& c) { c.At("tbs").children.push_back(Null()); }, 0x7A},
      {"certificate with an element after the signature",
       [](DerNode& c) { c.children.push_back(Null()); }, 0x7A},
      {"version number 3", [](DerNode& c) { c.At("versionNumber").content = {3}; }, 0x180},
      {"version number 0x7FFFFFFF",
       [](DerNode& c) {
         c.At("versionNumber").content = {0x7F, 0xFF, 0xFF, 0xFF};
       },
       0x180},
      {"version of five bytes",
       [](DerNode& c) {
         c.At("versionNumber").content = {0, 0, 0, 0, 2};
       },
       0x98},
      {"negative version", [](DerNode& c) { c.At("versionNumber").content = {0x80}; }, 0x98},
      {"empty version INTEGER", [](DerNode& c) { c.At("versionNumber").content = {}; }, 0x98},
      {"version as BOOLEAN", [](DerNode& c) { c.At("versionNumber").tag = tag::kBoolean; }, 0x96},
      {"[0] holding a second element",
       [](DerNode& c) { c.At("version").children.push_back(Null()); }, 0x9A},
      {"[0] of indefinite length", [](DerNode& c) { c.At("version").lengthBytes = Bytes{0x80}; },
       0x18},
      {"[0] longer than the TBS",
       [](DerNode& c) {
         c.At("version").lengthBytes = Bytes{0x82, 0x7F, 0x00};
       },
       0x14},
      {"version 2 without extensions",
       [](DerNode& c) {
         c.At("versionNumber").content = {1};
         c.Remove("extensions");
       },
       0,
       [](const X509Certificate& x) {
         EXPECT_EQ(x.version, 2);
         EXPECT_EQ(x.selfSigned, 0);
         EXPECT_EQ(x.isCa, 0);
       }},
      {"version 2 keeps extensions unread", [](DerNode& c) { c.At("versionNumber").content = {1}; },
       0x7A},
      {"version 1: [0] left out, no extensions",
       [](DerNode& c) {
         c.Remove("version");
         c.Remove("extensions");
       },
       0,
       [](const X509Certificate& x) {
         EXPECT_EQ(x.version, 1);
         EXPECT_EQ(x.selfSigned, 0) << "a version 1 certificate is never self-signed";
         EXPECT_TRUE(x.subjectKeyId.empty());
       }},
      {"version 1 with extensions", [](DerNode& c) { c.Remove("version"); }, 0x7A},
      {"serial as [2] primitive", [](DerNode& c) { c.At("serial").tag = 0x82; }, 0,
       [](const X509Certificate& x) {
         EXPECT_EQ(x.serial.tag, 0x82);
         EXPECT_EQ(ViewBytes(x.serial.bytes), kSerial);
       }},
      {"serial of 40 bytes", [](DerNode& c) { c.At("serial").content = Bytes(40, 0x7E); }, 0,
       [](const X509Certificate& x) { EXPECT_EQ(ViewBytes(x.serial.bytes), Bytes(40, 0x7E)); }},
      {"empty serial", [](DerNode& c) { c.At("serial").content = {}; }, 0,
       [](const X509Certificate& x) { EXPECT_TRUE(x.serial.bytes.empty()); }},
      {"serial as OCTET STRING", [](DerNode& c) { c.At("serial").tag = tag::kOctetString; }, 0xB6},
      {"serial of indefinite length", [](DerNode& c) { c.At("serial").lengthBytes = Bytes{0x80}; },
       0xB8},
  });
}

TEST_F(X509Reader, SignatureAlgorithms) {
  const auto accepted = [](const char* oid) {
    return [oid](const X509Certificate& x) {
      EXPECT_EQ(ViewBytes(x.sigAlgorithm), Oid(oid).content);
      EXPECT_EQ(ViewBytes(x.sigAlgorithm2), Oid(oid).content);
    };
  };
  RunEdits({
      {"md2WithRSA", [](DerNode& c) { SetSignatureOid(c, "1.2.840.113549.1.1.2"); }, 0,
       accepted("1.2.840.113549.1.1.2")},
      {"md5WithRSA", [](DerNode& c) { SetSignatureOid(c, "1.2.840.113549.1.1.4"); }, 0,
       accepted("1.2.840.113549.1.1.4")},
      {"sha1WithRSA", [](DerNode& c) { SetSignatureOid(c, "1.2.840.113549.1.1.5"); }, 0,
       accepted("1.2.840.113549.1.1.5")},
      {"sha384WithRSA", [](DerNode& c) { SetSignatureOid(c, "1.2.840.113549.1.1.12"); }, 0x1A0},
      {"sha512WithRSA", [](DerNode& c) { SetSignatureOid(c, "1.2.840.113549.1.1.13"); }, 0x1A0},
      {"sha224WithRSA", [](DerNode& c) { SetSignatureOid(c, "1.2.840.113549.1.1.14"); }, 0x1A0},
      {"rsaEncryption as a signature", [](DerNode& c) { SetSignatureOid(c, kRsaEncryption); },
       0x1A0},
      {"ecdsa-with-SHA256 without parameters",
       [](DerNode& c) {
         SetSignatureOid(c, "1.2.840.10045.4.3.2");
         c.Remove("sigAlgNull");
         c.Remove("outerAlgNull");
       },
       0x1A0},
      {"PKCS #1 OID with one more arc",
       [](DerNode& c) { SetSignatureOid(c, "1.2.840.113549.1.1.11.1"); }, 0x1A0},
      {"parameters left out", [](DerNode& c) { c.Remove("sigAlgNull"); }, 0,
       accepted(kSha256WithRsa)},
      {"NULL with content", [](DerNode& c) { c.At("sigAlgNull").content = {0}; }, 0xDA},
      {"two NULLs", [](DerNode& c) { c.InsertAfter("sigAlgNull", Null()); }, 0xDA},
      {"parameters an OID", [](DerNode& c) { c.At("sigAlgNull") = Oid("1.2.3"); }, 0xD6},
      {"identifier without OID", [](DerNode& c) { c.At("sigAlg").children.clear(); }, 0xD4},
      {"identifier tagged SET", [](DerNode& c) { c.At("sigAlg").tag = tag::kSet; }, 0xD6},
      {"OID tagged OCTET STRING", [](DerNode& c) { c.At("sigAlgOid").tag = tag::kOctetString; },
       0xD6},
      {"outer sha1 against inner sha256",
       [](DerNode& c) { c.At("outerAlgOid").content = Oid("1.2.840.113549.1.1.5").content; },
       0x1E0},
      {"outer OID of eight bytes", [](DerNode& c) { c.At("outerAlgOid").content.pop_back(); },
       0x1E0},
      {"outer parameters an OID", [](DerNode& c) { c.At("outerAlgNull") = Oid("1.2.3"); }, 0xD6},
      {"outer algorithm missing", [](DerNode& c) { c.Remove("outerAlg"); }, 0xD6},
  });
}

TEST_F(X509Reader, NamesAndValidity) {
  RunEdits({
      {"every string type",
       [](DerNode& c) {
         DerNode& subject = c.At("subject");
         subject.children = {Attribute("s1", "2.5.4.3", tag::kUtf8String, Text("u")),
                             Attribute("s2", "2.5.4.3", tag::kPrintableString, Text("p")),
                             Attribute("s3", "2.5.4.3", tag::kT61String, Text("t")),
                             Attribute("s4", "2.5.4.3", tag::kIa5String, Text("i")),
                             Attribute("s5", "2.5.4.3", tag::kUniversalString, {0, 0, 0, 'w'}),
                             Attribute("s6", "2.5.4.3", tag::kBmpString, {0, 'b'})};
       },
       0,
       [](const X509Certificate& x) {
         const uint8_t tags[] = {tag::kUtf8String, tag::kPrintableString, tag::kT61String,
                                 tag::kIa5String,  tag::kUniversalString, tag::kBmpString};
         ASSERT_EQ(x.subject.size(), 6u);
         for (size_t i = 0; i < 6; ++i) EXPECT_EQ(x.subject[i].value.tag, tags[i]);
         EXPECT_EQ(ViewBytes(x.subject[4].value.bytes), (Bytes{0, 0, 0, 'w'}));
       }},
      {"empty issuer", [](DerNode& c) { c.At("issuer").children.clear(); }, 0xF4},
      {"two attributes in one RDN",
       [](DerNode& c) {
         c.At("issuer").children[0].children.push_back(
             Sequence({}, {Oid("2.5.4.3"), writer::Utf8String({}, "x")}));
       },
       0xFA},
      {"NumericString value", [](DerNode& c) { c.At("issuerCN").tag = 0x12; }, 0xF6},
      {"attribute with a third element",
       [](DerNode& c) { c.At("issuer").children[0].children[0].children.push_back(Null()); }, 0xFA},
      {"attribute without value",
       [](DerNode& c) { c.At("issuer").children[0].children[0].children.pop_back(); }, 0xF4},
      {"RDN holding an OID",
       [](DerNode& c) { c.At("issuer").children[0].children[0] = Oid("2.5.4.3"); }, 0xF6},
      {"RDN tagged SEQUENCE", [](DerNode& c) { c.At("issuer").children[0].tag = tag::kSequence; },
       0xF6},
      {"value longer than its attribute",
       [](DerNode& c) { c.At("issuerCN").lengthBytes = Bytes{0x7F}; }, 0xF4},
      {"issuer tagged SET", [](DerNode& c) { c.At("issuer").tag = tag::kSet; }, 0x76},
      {"subject tagged SET", [](DerNode& c) { c.At("subject").tag = tag::kSet; }, 0x76},
      {"validity with a third time",
       [](DerNode& c) {
         c.At("validity").children.push_back(writer::UtcTime({}, "250101000000Z"));
       },
       0x11A},
      {"validity tagged SET", [](DerNode& c) { c.At("validity").tag = tag::kSet; }, 0x116},
      {"validity with one time", [](DerNode& c) { c.Remove("notAfter"); }, 0x114},
      {"notBefore as IA5String", [](DerNode& c) { c.At("notBefore").tag = tag::kIa5String; },
       0x116},
      {"notBefore of indefinite length",
       [](DerNode& c) { c.At("notBefore").lengthBytes = Bytes{0x80}; }, 0x118},
  });
}

TEST_F(X509Reader, TimesAgreeWithOpenssl) {
  const struct {
    uint8_t tag;
    const char* text;
    const char* expected;  // null when refused with 0x100
  } cases[] = {
      {tag::kUtcTime, "491231235959Z", "2049-12-31 23:59:59"},
      {tag::kUtcTime, "500101000000Z", "1950-01-01 00:00:00"},
      {tag::kUtcTime, "000229120000Z", "2000-02-29 12:00:00"},
      {tag::kUtcTime, "491231235959", "2049-12-31 23:59:59"},
      {tag::kGeneralizedTime, "20000229120000Z", "2000-02-29 12:00:00"},
      {tag::kGeneralizedTime, "20240229000000Z", "2024-02-29 00:00:00"},
      {tag::kGeneralizedTime, "99991231235959Z", "9999-12-31 23:59:59"},
      {tag::kGeneralizedTime, "21000229120000Z", nullptr},
      {tag::kGeneralizedTime, "20230230000000Z", nullptr},
      {tag::kGeneralizedTime, "20230431000000Z", nullptr},
      {tag::kGeneralizedTime, "20231301000000Z", nullptr},
      {tag::kGeneralizedTime, "20230100000000Z", nullptr},
      {tag::kGeneralizedTime, "20230101240000Z", nullptr},
      {tag::kGeneralizedTime, "20230101006000Z", nullptr},
      {tag::kGeneralizedTime, "20230101000060Z", nullptr},
      {tag::kGeneralizedTime, "20230101000000.5Z", nullptr},
      {tag::kGeneralizedTime, "2023010100000Z", nullptr},
      {tag::kGeneralizedTime, "491231235959Z", nullptr},
      {tag::kUtcTime, "20230101000000Z", nullptr},
      {tag::kUtcTime, "4912312359Z", nullptr},
      {tag::kUtcTime, "491231235959+0100", nullptr},
      {tag::kUtcTime, "491231235959z", nullptr},
      {tag::kUtcTime, "4a1231235959Z", nullptr},
      {tag::kUtcTime, "49123123595aZ", nullptr},
      {tag::kUtcTime, "49-231235959Z", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    DerNode cert = BaseCertificate();
    cert.At("notAfter") = Primitive(c.tag, "notAfter", Text(c.text));
    const Bytes der = Serialize(cert);
    CertificateList list;
    const int32_t result = Parse(list, der);
    if (c.expected == nullptr) {
      EXPECT_EQ(result, 0x100);
      continue;
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(TimeText(list[0].validTo), c.expected);
    if (std::string(c.text).back() == 'Z') {
      EXPECT_EQ(Openssl(der, "x509 -inform DER -noout -enddate -dateopt iso_8601"),
                "notAfter=" + std::string(c.expected) + "Z\n");
    }
  }
}

TEST_F(X509Reader, PublicKeys) {
  const auto key = [](const Bytes& n, const Bytes& e) {
    return [n, e](DerNode& c) { SetKey(c, n, e); };
  };
  const auto bits = [](size_t modulusBits, size_t length) {
    return [=](const X509Certificate& x) {
      EXPECT_EQ(mbedtls_mpi_bitlen(&x.publicKey.get()->N), modulusBits);
      EXPECT_EQ(x.publicKey.length(), length);
    };
  };
  const Bytes e64 = {0x00, 0x80, 0, 0, 0, 0, 0, 0, 0x01};
  const Bytes e65 = {0x01, 0, 0, 0, 0, 0, 0, 0, 0x01};
  const auto ecKey = [](DerNode& c) {
    c.At("keyAlgorithm").children = {Oid("1.2.840.10045.2.1"), Oid("1.2.840.10045.3.1.7")};
    writer::SetBitStringValue(c.At("keyBits"), Bytes(65, 0x04));
  };
  RunEdits({
      {"modulus of 128 bits", key(Modulus(128), kE65537), 0, bits(128, 16)},
      {"modulus of 4096 bits", key(Modulus(4096), kE65537), 0, bits(4096, 512)},
      {"modulus of 1025 bits", key(Modulus(1025), kE65537), 0, bits(1025, 129)},
      {"modulus of 127 bits", key(Modulus(127), kE65537), 0x430},
      {"modulus of 4097 bits", key(Modulus(4097), kE65537), 0x430},
      {"even modulus", key(Modulus(2048, false), kE65537), 0x430},
      {"zero modulus", key({}, kE65537), 0x430},
      {"exponent 3", key(Modulus(2048), {3}), 0},
      {"exponent of 64 bits", key(Modulus(2048), e64), 0},
      {"exponent of 65 bits", key(Modulus(2048), e65), 0x430},
      {"exponent 1", key(Modulus(2048), {1}), 0x430},
      {"even exponent", key(Modulus(2048), {0x01, 0x00, 0x00}), 0x430},
      {"elliptic-curve key", ecKey, 0x1C0},
      {"Ed25519 key", [](DerNode& c) { c.At("keyAlgorithm").children = {Oid("1.3.101.112")}; },
       0x1C0},
      {"rsaEncryption with OID parameters",
       [](DerNode& c) { c.At("keyAlgorithmNull") = Oid("1.2.3"); }, 0xD6},
      {"rsaEncryption without parameters", [](DerNode& c) { c.Remove("keyAlgorithmNull"); }, 0,
       bits(2048, 256)},
      {"key BIT STRING with unused bits", [](DerNode& c) { c.At("keyBits").content[0] = 1; },
       0x120},
      {"empty key BIT STRING", [](DerNode& c) { c.At("keyBits").content.clear(); }, 0x134},
      {"key as OCTET STRING", [](DerNode& c) { c.At("keyBits").tag = tag::kOctetString; }, 0x136},
      {"key followed by a byte inside the BIT STRING",
       [](DerNode& c) { c.At("keyBits").content.push_back(0); }, 0x13A},
      {"element after the key BIT STRING",
       [](DerNode& c) { c.At("keyInfo").children.push_back(Null()); }, 0x13A},
      {"third INTEGER in the key",
       [](DerNode& c) {
         DerNode rsa = RsaKey(Modulus(2048), kE65537);
         rsa.children.push_back(SmallInteger({}, 1));
         writer::SetBitStringValue(c.At("keyBits"), Serialize(rsa));
       },
       0x13A},
      {"exponent missing",
       [](DerNode& c) {
         writer::SetBitStringValue(
             c.At("keyBits"),
             Serialize(Sequence({}, {Primitive(tag::kInteger, {}, Modulus(2048))})));
       },
       0x134},
      {"modulus as OCTET STRING",
       [](DerNode& c) {
         writer::SetBitStringValue(
             c.At("keyBits"), Serialize(Sequence({}, {writer::OctetString(Modulus(2048)),
                                                      Primitive(tag::kInteger, {}, kE65537)})));
       },
       0x136},
      {"key information tagged SET", [](DerNode& c) { c.At("keyInfo").tag = tag::kSet; }, 0x76},
  });
}

TEST_F(X509Reader, UniqueIdentifiersAndExtensions) {
  const auto ca = [](int32_t expected) {
    return [expected](const X509Certificate& x) { EXPECT_EQ(x.isCa, expected); };
  };
  const auto selfSigned = [](int32_t expected) {
    return [expected](const X509Certificate& x) { EXPECT_EQ(x.selfSigned, expected); };
  };
  const auto constraints = [](std::optional<bool> critical, std::vector<DerNode> fields) {
    return [=](DerNode& c) { c.At("basicConstraints") = CaConstraints(critical, fields); };
  };
  const auto uniqueIds = [](DerNode& c) {
    c.InsertAfter("keyInfo", Primitive(0xA1, "issuerUid", {0x00, 0x01}));
    c.InsertAfter("issuerUid", Primitive(0xA2, {}, {0x00, 0x02, 0x03}));
  };
  RunEdits({
      {"unique identifiers [1] and [2]", uniqueIds, 0,
       [](const X509Certificate& x) {
         EXPECT_EQ(ViewBytes(x.issuerUniqueId), (Bytes{0x00, 0x01}));
         EXPECT_EQ(ViewBytes(x.subjectUniqueId), (Bytes{0x00, 0x02, 0x03}));
         EXPECT_EQ(x.isCa, 1);
       }},
      {"subject unique identifier alone",
       [](DerNode& c) { c.InsertAfter("keyInfo", Primitive(0xA2, {}, {0x07})); }, 0,
       [](const X509Certificate& x) {
         EXPECT_TRUE(x.issuerUniqueId.empty());
         EXPECT_EQ(x.subjectUniqueId.size(), 1u);
       }},
      {"unique identifier in version 1",
       [&](DerNode& c) {
         uniqueIds(c);
         c.Remove("version");
         c.Remove("extensions");
       },
       0x7A},
      {"unique identifier tagged [1] primitive",
       [](DerNode& c) { c.InsertAfter("keyInfo", Primitive(0x81, {}, {0})); }, 0x7A},
      {"unique identifier longer than the TBS",
       [](DerNode& c) {
         DerNode uid = Primitive(0xA1, {}, {0});
         uid.lengthBytes = Bytes{0x82, 0x7F, 0};
         c.InsertAfter("keyInfo", uid);
       },
       0x14},
      {"BasicConstraints marked critical", [](DerNode&) {}, 0, ca(1)},
      {"BasicConstraints without critical flag", constraints(std::nullopt, {Boolean(true)}), 0,
       ca(1)},
      {"BasicConstraints with critical FALSE", constraints(false, {Boolean(true)}), 0, ca(0)},
      {"cA FALSE", constraints(true, {Boolean(false)}), 0, ca(0)},
      {"cA absent", constraints(true, {}), 0, ca(0)},
      {"cA with pathLenConstraint", constraints(true, {Boolean(true), SmallInteger({}, 2)}), 0,
       ca(1)},
      {"cA given as INTEGER 1", constraints(true, {SmallInteger({}, 1)}), 0, ca(1)},
      {"cA given as INTEGER 0", constraints(true, {SmallInteger({}, 0)}), 0, ca(0)},
      {"BasicConstraints absent", [](DerNode& c) { c.Remove("basicConstraints"); }, 0, ca(0)},
      {"critical FALSE on the SubjectKeyIdentifier carries over",
       [](DerNode& c) {
         c.At("subjectKeyId") = SubjectKeyId(false);
         c.Remove("basicConstraints");
         c.InsertAfter("subjectKeyId", CaConstraints(std::nullopt, {Boolean(true)}));
       },
       0, ca(0)},
      {"element after pathLenConstraint",
       constraints(true, {Boolean(true), SmallInteger({}, 2), Null()}), 0x17A},
      {"cA BOOLEAN of two bytes", constraints(true, {Primitive(tag::kBoolean, {}, {0xFF, 0xFF})}),
       0x178},
      {"cA neither BOOLEAN nor INTEGER", constraints(true, {Null()}), 0x176},
      {"critical BOOLEAN of two bytes",
       [](DerNode& c) {
         c.At("basicConstraints").children[1].content = {0xFF, 0xFF};
       },
       0x178},
      {"extension value followed by an element",
       [](DerNode& c) { c.At("basicConstraints").children.push_back(Null()); }, 0x17A},
      {"extension value holding more than its structure",
       [](DerNode& c) { c.At("basicConstraints").children[2].content.push_back(0); }, 0x17A},
      {"extension value missing", [](DerNode& c) { c.At("basicConstraints").children.resize(2); },
       0x174},
      {"extension value as BIT STRING",
       [](DerNode& c) { c.At("basicConstraints").children[2].tag = tag::kBitString; }, 0x176},
      {"no key identifiers",
       [](DerNode& c) {
         c.Remove("subjectKeyId");
         c.Remove("authorityKeyId");
       },
       0, selfSigned(1)},
      {"no extensions at all", [](DerNode& c) { c.Remove("extensions"); }, 0,
       [](const X509Certificate& x) {
         EXPECT_EQ(x.selfSigned, 1);
         EXPECT_EQ(x.isCa, 0);
         EXPECT_TRUE(x.extensions.empty());
       }},
      {"empty extension list", [](DerNode& c) { c.At("extensionList").children.clear(); }, 0,
       selfSigned(1)},
      {"subject key identifier alone", [](DerNode& c) { c.Remove("authorityKeyId"); }, 0,
       selfSigned(0)},
      {"different key identifiers",
       [](DerNode& c) {
         c.At("authorityKeyId") = AuthorityKeyId({Primitive(0x80, {}, kOtherKeyId)});
       },
       0,
       [](const X509Certificate& x) {
         EXPECT_EQ(ViewBytes(x.authorityKeyId), kOtherKeyId);
         EXPECT_EQ(x.selfSigned, 0);
       }},
      {"authority serial without key identifier",
       [](DerNode& c) { c.At("authorityKeyId") = AuthorityKeyId({Primitive(0x82, {}, {0x01})}); },
       0,
       [](const X509Certificate& x) {
         EXPECT_TRUE(x.authorityKeyId.empty());
         EXPECT_EQ(x.selfSigned, 0);
       }},
      {"authority issuer as [1] primitive",
       [](DerNode& c) {
         c.At("authorityKeyId") =
             AuthorityKeyId({Primitive(0x80, {}, kKeyId), Primitive(0x81, {}, {0x01})});
       },
       0, selfSigned(1)},
      {"authority issuer as [1] constructed GeneralNames",
       [](DerNode& c) {
         c.At("authorityKeyId") =
             AuthorityKeyId({Primitive(0x80, {}, kKeyId), writer::Constructed(0xA1, {}, {Null()})});
       },
       0x176},
      {"SubjectKeyIdentifier as INTEGER",
       [](DerNode& c) {
         c.At("subjectKeyId") =
             Extension("subjectKeyId", kSubjectKeyId, std::nullopt, SmallInteger({}, 1));
       },
       0x176},
      {"unknown extension with any content",
       [](DerNode& c) {
         c.InsertAfter("basicConstraints", Sequence({}, {Primitive(0x99, {}, {1, 2, 3})}));
       },
       0, ca(1)},
      {"unknown extension of two bytes",
       [](DerNode& c) {
         c.InsertAfter("basicConstraints", Sequence({}, {Primitive(0x06, {}, {})}));
       },
       0, ca(1)},
      {"extension tagged SET", [](DerNode& c) { c.At("basicConstraints").tag = tag::kSet; }, 0x176},
      {"empty [3]", [](DerNode& c) { c.At("extensions").children.clear(); }, 0x174},
      {"[3] holding an OCTET STRING",
       [](DerNode& c) { c.At("extensions").children = {writer::OctetString({1})}; }, 0x176},
      {"[3] holding a byte after the list",
       [](DerNode& c) { c.At("extensions").children.push_back(Null()); }, 0x17A},
      {"[3] of indefinite length", [](DerNode& c) { c.At("extensions").lengthBytes = Bytes{0x80}; },
       0x18},
      {"signature with unused bits", [](DerNode& c) { c.At("signature").content[0] = 1; }, 0x140},
      {"signature of no bytes", [](DerNode& c) { c.At("signature").content = {0}; }, 0x140},
      {"signature as OCTET STRING", [](DerNode& c) { c.At("signature").tag = tag::kOctetString; },
       0x156},
      {"signature missing", [](DerNode& c) { c.Remove("signature"); }, 0x154},
  });
}

TEST_F(X509Reader, OneByteAfterTheCertificateIsRefused) {
  CertificateList list;
  EXPECT_EQ(Parse(list, Concat(Serialize(BaseCertificate()), {0x00})), 0x7A);
  EXPECT_TRUE(list.empty());
}

TEST_F(X509Reader, RefusalLeavesTheListAsItWas) {
  const Bytes good = Serialize(BaseCertificate());
  DerNode other = BaseCertificate();
  other.At("serial").content = {0x42};
  CertificateList list;
  ASSERT_EQ(Parse(list, good), 0);
  const std::string first = Describe(list[0]);
  const uint8_t* firstBytes = list[0].raw.data();

  EXPECT_EQ(Parse(list, Bytes(good.begin(), good.end() - 1)), 0x60);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(Describe(list[0]), first);

  ASSERT_EQ(Parse(list, Serialize(other)), 0);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].raw.data(), firstBytes) << "records keep their own copies as the list grows";
  EXPECT_EQ(Describe(list[0]), first);
  EXPECT_EQ(ViewBytes(list[1].serial.bytes), Bytes{0x42});

  FreeCertificateList(list);
  EXPECT_TRUE(list.empty());
  ASSERT_EQ(Parse(list, good), 0);
  EXPECT_EQ(Describe(list[0]), first);
}

// Every cut and many single-byte changes: the reader never reads outside the
// input (the sanitizers watch), answers with one of its codes, and adds a
// record exactly when it answers 0.
TEST_F(X509Reader, DamagedInputNeverEscapesTheCodes) {
  const Bytes der = Serialize(BaseCertificate());
  const auto check = [](const Bytes& input, const std::string& what) {
    CertificateList list;
    const int32_t result = Parse(list, input);
    EXPECT_TRUE(result == 0 || IsReaderCode(result)) << what << ": 0x" << std::hex << result;
    EXPECT_EQ(list.size(), result == 0 ? 1u : 0u) << what;
  };
  check({}, "empty input");
  for (size_t cut = 0; cut < der.size(); ++cut) {
    check(Bytes(der.begin(), der.begin() + cut), "cut at " + std::to_string(cut));
    // The same cut with the outer length mended, so the inner readers run dry.
    const size_t header = 4;
    if (cut > header) {
      DerNode outer = Primitive(tag::kSequence, {}, Bytes(der.begin() + header, der.begin() + cut));
      check(Serialize(outer), "mended cut at " + std::to_string(cut));
    }
  }
  for (size_t at = 0; at < der.size(); ++at) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      Bytes changed = der;
      changed[at] ^= flip;
      check(changed, "byte " + std::to_string(at) + " ^ " + std::to_string(flip));
    }
  }
}

// The name texts of `tpk cert`: BMPString and UniversalString converted to
// UTF-8, single-byte strings that are not UTF-8 read as Latin-1.
TEST_F(X509Reader, TpkCertGivesNameTextsAsUtf8) {
  DerNode cert = BaseCertificate();
  cert.At("subject").children = {
      Attribute("u", "2.5.4.3", tag::kUtf8String, Text("保單")),
      Attribute("b", "2.5.4.10", tag::kBmpString, {0x4F, 0xDD, 0x55, 0xAE, 0xD8, 0x3D, 0xDE, 0x00}),
      Attribute("w", "2.5.4.11", tag::kUniversalString, {0, 0, 0x6E, 0x2C, 0, 0x01, 0xF6, 0x00}),
      Attribute("t", "2.5.4.7", tag::kT61String, {'C', 0xE9, 'a'}),
      Attribute("p", "2.5.4.6", tag::kPrintableString, Text("TW"))};
  const auto path = dir_ / "names.der";
  test::WriteFile(path, Serialize(cert));
  const test::CommandResult r =
      test::Run(ShellQuote(test::TpkPath()) + " cert " + ShellQuote(path.string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Json::Value answer;
  std::istringstream in(r.out);
  ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &answer, nullptr)) << r.out;
  const Json::Value& subject = answer["subject"];
  ASSERT_EQ(subject.size(), 5u);
  const char* expected[][2] = {{"2.5.4.3", "保單"},
                               {"2.5.4.10", "保單😀"},
                               {"2.5.4.11", "測😀"},
                               {"2.5.4.7", "Céa"},
                               {"2.5.4.6", "TW"}};
  for (Json::ArrayIndex i = 0; i < 5; ++i) {
    EXPECT_EQ(subject[i][0].asString(), expected[i][0]);
    EXPECT_EQ(subject[i][1].asString(), expected[i][1]);
  }
}

}  // namespace
}  // namespace qalv
