// The package writer and test PKI, checked against OpenSSL's command line:
// the DER it writes, the cipher, the signatures over the exact regions, the
// certificates and the chain file; then read back by our own reader.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "package/tpk_package.h"
#include "platform/trace.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "writer/der_writer.h"
#include "writer/package_writer.h"
#include "writer/test_pki.h"
#include "x509/signature.h"

namespace qalv {
namespace {

using test::Hex;

using test::ShellQuote;
using test::TempDir;
using writer::Bytes;
using writer::DerNode;
using writer::Digest;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

Bytes Slice(const Bytes& bytes, size_t start, size_t length) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(start),
               bytes.begin() + static_cast<std::ptrdiff_t>(start + length));
}

// Runs `openssl ARGS` (a shell command line, pipes allowed after it).
test::CommandResult OpenSslResult(const std::string& args) { return test::Run("openssl " + args); }

// As above, and a failure is reported with OpenSSL's own words.
std::string OpenSsl(const std::string& args) {
  const test::CommandResult result = OpenSslResult(args);
  EXPECT_EQ(result.exitCode, 0) << "openssl " << args << "\n" << result.err;
  return result.out;
}

// `openssl verify` of the DER certificate `leaf` under the DER `root` and
// `intermediate`; the PEM copies it needs go beside the inputs.
test::CommandResult VerifyChain(const std::filesystem::path& root,
                                const std::filesystem::path& intermediate,
                                const std::filesystem::path& leaf) {
  std::string pems[3];
  const std::filesystem::path ders[] = {root, intermediate, leaf};
  for (size_t i = 0; i < 3; ++i) {
    pems[i] = ShellQuote(ders[i].string() + ".pem");
    OpenSsl("x509 -inform DER -in " + ShellQuote(ders[i].string()) + " -out " + pems[i]);
  }
  return OpenSslResult("verify -CAfile " + pems[0] + " -untrusted " + pems[1] + " " + pems[2]);
}

// One line of `openssl asn1parse`.
struct Asn1Entry {
  size_t offset = 0;
  int depth = 0;
  size_t headerLength = 0;
  size_t length = 0;
  std::string type;
};

std::vector<Asn1Entry> Asn1Parse(const std::filesystem::path& file) {
  const std::string out = OpenSsl("asn1parse -inform DER -in " + ShellQuote(file.string()));
  static const std::regex kLine(
      R"(^\s*(\d+):d=(\d+)\s+hl=(\d+)\s+l=\s*(\d+)\s+(?:prim|cons):\s*([A-Z0-9 ]*[A-Z0-9]))");
  std::vector<Asn1Entry> entries;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, kLine)) {
      ADD_FAILURE() << "unexpected asn1parse line: " << line;
      continue;
    }
    entries.push_back({std::stoul(match[1]), std::stoi(match[2]), std::stoul(match[3]),
                       std::stoul(match[4]), match[5]});
  }
  return entries;
}

// The whole element (header included) and a BIT STRING's value, located by
// OpenSSL's offsets rather than by our own tree.
Bytes WholeElementAt(const Bytes& file, const Asn1Entry& entry) {
  return Slice(file, entry.offset, entry.headerLength + entry.length);
}
Bytes BitStringValueAt(const Bytes& file, const Asn1Entry& entry) {
  return Slice(file, entry.offset + entry.headerLength + 1, entry.length - 1);
}

// The package layout as OpenSSL sees it: (depth, type) of every element in
// file order, and the positions of the elements the tests pick out.
std::vector<std::pair<int, std::string>> ExpectedLayout() {
  std::vector<std::pair<int, std::string>> layout = {
      {0, "SEQUENCE"},   {1, "SEQUENCE"},   {2, "INTEGER"},  {2, "SEQUENCE"},   {3, "SEQUENCE"},
      {4, "INTEGER"},    {4, "SEQUENCE"},   {5, "SEQUENCE"}, {6, "BIT STRING"}, {6, "BIT STRING"},
      {5, "BIT STRING"}, {5, "BIT STRING"}, {5, "UTCTIME"},  {4, "SEQUENCE"},   {5, "BIT STRING"},
      {5, "BIT STRING"}, {3, "SEQUENCE"}};
  for (int i = 0; i < 9; ++i) layout.push_back({4, "UTF8STRING"});
  for (int i = 0; i < 6; ++i) layout.push_back({4, "BIT STRING"});
  for (int i = 0; i < 5; ++i) {
    layout.push_back({4, "INTEGER"});
    layout.push_back({4, "UTF8STRING"});
    layout.push_back({4, "UTF8STRING"});
  }
  layout.insert(layout.end(), {{3, "UTCTIME"},
                               {1, "SEQUENCE"},
                               {2, "BIT STRING"},
                               {2, "BIT STRING"},
                               {1, "BIT STRING"},
                               {1, "BIT STRING"}});
  return layout;
}
constexpr size_t kTpkPlaintext = 3;
constexpr size_t kSignedRegion = 6;
constexpr size_t kS1Signature = 8;
constexpr size_t kS1Certificate = 9;
constexpr size_t kCipherDigest = 10;
constexpr size_t kSnapshotDigest = 11;
constexpr size_t kS2Signature = 14;
constexpr size_t kS2Certificate = 15;
constexpr size_t kS3Signature = 49;
constexpr size_t kS3Certificate = 50;
constexpr size_t kCipher = 51;
constexpr size_t kSnapshot = 52;

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override { trace::SetLogSink({}); }
  void TearDown() override { trace::SetLogSink(trace::StdoutSink()); }

  std::filesystem::path Write(const std::string& name, const Bytes& bytes) {
    const auto path = dir_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  std::string Quoted(const std::string& name) const { return ShellQuote((dir_ / name).string()); }

  // A built package and OpenSSL's view of it.
  struct Parsed {
    Bytes file;
    std::vector<Asn1Entry> entries;
  };
  Parsed ParsePackage(const Bytes& file) {
    Parsed parsed{file, Asn1Parse(Write("package.tpk", file))};
    EXPECT_EQ(parsed.entries.size(), ExpectedLayout().size());
    return parsed;
  }

  // Whether OpenSSL accepts the signature at `signatureIndex` over `data`
  // with the key of the certificate at `certificateIndex`.
  bool OpenSslVerifies(const Parsed& parsed, const Bytes& data, size_t signatureIndex,
                       size_t certificateIndex, const std::string& digest) {
    Write("data", data);
    Write("signature", BitStringValueAt(parsed.file, parsed.entries[signatureIndex]));
    Write("signer.der", BitStringValueAt(parsed.file, parsed.entries[certificateIndex]));
    OpenSsl("x509 -inform DER -in " + Quoted("signer.der") + " -pubkey -noout -out " +
            Quoted("signer.pub"));
    const test::CommandResult result =
        OpenSslResult("dgst -" + digest + " -verify " + Quoted("signer.pub") + " -signature " +
                      Quoted("signature") + " " + Quoted("data"));
    EXPECT_TRUE(result.exitCode == 0 || result.out.find("Verification failure") == 0)
        << result.out << result.err;
    return result.exitCode == 0 && result.out == "Verified OK\n";
  }

  TempDir dir_;
};

// ---------------------------------------------------------------- DER tree

TEST(DerWriter, EncodesStandardForms) {
  DerNode nonMinimal = writer::Utf8String({}, "abcde");
  nonMinimal.lengthBytes = writer::LongFormLength(5, 2);
  DerNode wrongLength = writer::BitString({}, {0x01, 0x02});
  wrongLength.lengthBytes = writer::MinimalLength(9);
  const std::pair<DerNode, const char*> rows[] = {
      {writer::Integer({}, 0), "020100"},
      {writer::Integer({}, 127), "02017F"},
      {writer::Integer({}, 128), "02020080"},
      {writer::Integer({}, 256), "02020100"},
      {writer::Integer({}, -1), "0201FF"},
      {writer::Integer({}, -128), "020180"},
      {writer::Integer({}, -129), "0202FF7F"},
      {writer::Integer({}, int64_t{1} << 32), "02050100000000"},
      {writer::BitString({}, {0xAB}), "030200AB"},
      {writer::Oid("1.2.840.113549.1.7.2"), "06092A864886F70D010702"},
      {writer::UtcTime({}, "891231235959Z"), "170D3839313233313233353935395A"},
      {writer::Sequence({}, {}), "3000"},
      {writer::Sequence({}, {writer::Integer({}, 1), writer::Set({})}), "30050201013100"},
      {nonMinimal, "0C8200056162636465"},
      {wrongLength, "0309000102"},
  };
  for (const auto& [node, hex] : rows) EXPECT_EQ(Hex(writer::Serialize(node)), hex);

  const std::pair<Bytes, const char*> lengths[] = {
      {writer::MinimalLength(0), "00"},
      {writer::MinimalLength(127), "7F"},
      {writer::MinimalLength(128), "8180"},
      {writer::MinimalLength(256), "820100"},
      {writer::MinimalLength(0x1000000), "8401000000"},
      {writer::LongFormLength(5, 5), "850000000005"},
      {Slice(writer::Serialize(writer::OctetString(Bytes(200, 0x11))), 0, 3), "0481C8"}};
  for (const auto& [bytes, hex] : lengths) EXPECT_EQ(Hex(bytes), hex);
}

TEST(DerWriter, NamedNodesCanBeFoundRemovedAndInserted) {
  DerNode tree = writer::Sequence(
      "outer", {writer::Integer("a", 1), writer::Sequence("inner", {writer::Integer("b", 2)})});
  tree.InsertAfter("b", writer::Integer("c", 3));
  tree.Remove("a");
  EXPECT_EQ(Hex(writer::Serialize(tree)), "30083006020102020103");
  EXPECT_EQ(tree.Find("a"), nullptr);
  EXPECT_THROW(tree.At("a"), std::out_of_range);
  EXPECT_THROW(tree.Remove("a"), std::out_of_range);
  tree.At("c").content = {0x00, 0x80};
  EXPECT_EQ(Hex(writer::Serialize(tree.At("inner"))), "300702010202020080");
}

// ---------------------------------------------------------------- cipher

TEST_F(WriterTest, CipherDecryptsWithOpenSslToDocumentMarkerAndPadding) {
  const std::string passwords[] = {"test-password", "", "保單密碼 with spaces"};
  const size_t documentLengths[] = {0, 1, 11, 12, 24, 27, 28, 100};
  for (const std::string& password : passwords) {
    test::WriteFile(dir_ / "password", password);
    const std::string keyHex = OpenSsl("dgst -sha256 -r " + Quoted("password")).substr(0, 64);
    for (size_t length : documentLengths) {
      Bytes document(length);
      for (size_t i = 0; i < length; ++i) document[i] = static_cast<uint8_t>(i * 7 + 1);
      Write("cipher", writer::EncryptDocument(document, password));
      OpenSsl("enc -d -aes-256-cbc -nopad -K " + keyHex + " -iv " + std::string(32, '0') + " -in " +
              Quoted("cipher") + " -out " + Quoted("plain"));

      const size_t padding = 16 - (length + 4) % 16;
      Bytes expected = document;
      expected.insert(expected.end(), {'Q', 'A', 'L', 'V'});
      expected.insert(expected.end(), padding, static_cast<uint8_t>(padding));
      EXPECT_EQ(test::ReadFile(dir_ / "plain"), expected)
          << "password '" << password << "', document of " << length;
    }
  }
}

// ---------------------------------------------------------------- package

TEST_F(WriterTest, PackageIsDerOfTheAgreedLayoutFillingTheFile) {
  const Parsed parsed = ParsePackage(writer::BuildPackage(writer::DefaultPackageSpec(test::SharedPki())));
  const auto layout = ExpectedLayout();
  ASSERT_EQ(parsed.entries.size(), layout.size());
  for (size_t i = 0; i < layout.size(); ++i) {
    EXPECT_EQ(parsed.entries[i].depth, layout[i].first) << "element " << i;
    EXPECT_EQ(parsed.entries[i].type, layout[i].second) << "element " << i;
  }
  const Asn1Entry& outer = parsed.entries[0];
  const Asn1Entry& snapshot = parsed.entries[kSnapshot];
  EXPECT_EQ(outer.headerLength + outer.length, parsed.file.size());
  EXPECT_EQ(snapshot.offset + snapshot.headerLength + snapshot.length, parsed.file.size());
}

TEST_F(WriterTest, PackageCipherDecryptsToTheDocumentAndDigestsMatchOpenSsl) {
  writer::PackageSpec spec = writer::DefaultPackageSpec(test::SharedPki());
  spec.password = "demo-password";
  const Parsed parsed = ParsePackage(writer::BuildPackage(spec));
  ASSERT_EQ(parsed.entries.size(), ExpectedLayout().size());

  Write("cipher", BitStringValueAt(parsed.file, parsed.entries[kCipher]));
  Write("snapshot", BitStringValueAt(parsed.file, parsed.entries[kSnapshot]));
  EXPECT_EQ(Hex(BitStringValueAt(parsed.file, parsed.entries[kCipherDigest])),
            Upper(OpenSsl("dgst -sha256 -r " + Quoted("cipher")).substr(0, 64)));
  EXPECT_EQ(Hex(BitStringValueAt(parsed.file, parsed.entries[kSnapshotDigest])),
            Upper(OpenSsl("dgst -sha256 -r " + Quoted("snapshot")).substr(0, 64)));
  EXPECT_EQ(BitStringValueAt(parsed.file, parsed.entries[kSnapshot]), spec.snapshot);

  // With padding removal on, OpenSSL also checks the PKCS #7 padding.
  test::WriteFile(dir_ / "password", spec.password);
  const std::string keyHex = OpenSsl("dgst -sha256 -r " + Quoted("password")).substr(0, 64);
  OpenSsl("enc -d -aes-256-cbc -K " + keyHex + " -iv " + std::string(32, '0') + " -in " +
          Quoted("cipher") + " -out " + Quoted("plain"));
  Bytes expected = spec.document;
  expected.insert(expected.end(), {'Q', 'A', 'L', 'V'});
  EXPECT_EQ(test::ReadFile(dir_ / "plain"), expected);
}

TEST_F(WriterTest, SignaturesVerifyOverTheExactRegionsForEachDigest) {
  struct Row {
    Digest digest;
    const char* opensslName;
    int32_t verifierResult;  // what our own verifier makes of it
    int32_t digestId;
  };
  const Row rows[] = {
      {Digest::kSha256, "sha256", 0, digest_id::kSha256},
      {Digest::kSha1, "sha1", 0, digest_id::kSha1},
      {Digest::kSha224, "sha224", 0, digest_id::kSha224},
      {Digest::kMd5, "md5", 0, digest_id::kMd5},
      {Digest::kSha384, "sha384", signature::kRefusedDigest, digest_id::kSha384},
      {Digest::kSha512, "sha512", signature::kRefusedDigest, digest_id::kSha512},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.opensslName);
    writer::PackageSpec spec = writer::DefaultPackageSpec(test::SharedPki());
    spec.s1.digest = spec.s2.digest = spec.s3.digest = row.digest;
    const Parsed parsed = ParsePackage(writer::BuildPackage(spec));
    ASSERT_EQ(parsed.entries.size(), ExpectedLayout().size());

    struct Signed {
      const char* name;
      Bytes data;
      size_t signature;
      size_t certificate;
    };
    const Signed signatures[] = {
        {"s1", spec.document, kS1Signature, kS1Certificate},
        {"s2", WholeElementAt(parsed.file, parsed.entries[kSignedRegion]), kS2Signature,
         kS2Certificate},
        {"s3", WholeElementAt(parsed.file, parsed.entries[kTpkPlaintext]), kS3Signature,
         kS3Certificate},
    };
    for (const Signed& s : signatures) {
      EXPECT_TRUE(OpenSslVerifies(parsed, s.data, s.signature, s.certificate, row.opensslName))
          << s.name;

      const Bytes certificate = BitStringValueAt(parsed.file, parsed.entries[s.certificate]);
      const Bytes signatureBytes = BitStringValueAt(parsed.file, parsed.entries[s.signature]);
      CertificateList list;
      ASSERT_EQ(ParseCertificate(list, certificate.data(), certificate.size()), 0) << s.name;
      int32_t digestId = -1;
      EXPECT_EQ(VerifySignature(list.front().publicKey, digestId, s.data.data(), s.data.size(),
                                signatureBytes.data(), signatureBytes.size()),
                row.verifierResult)
          << s.name;
      EXPECT_EQ(digestId, row.digestId) << s.name;
      FreeCertificateList(list);
    }
  }
}

TEST_F(WriterTest, TamperedCipherWithAndWithoutRefreshAndResigning) {
  struct Row {
    const char* name;
    bool refreshDigests;
    bool resign;
    bool digestMatches;
    bool signaturesHold;
  };
  const Row rows[] = {
      {"tampered only", false, false, false, true},
      {"digests refreshed, old signatures", true, false, true, false},
      {"digests refreshed and re-signed", true, true, true, true},
      {"stale digest, re-signed", false, true, false, true},
  };
  const writer::PackageSpec spec = writer::DefaultPackageSpec(test::SharedPki());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DerNode tree = writer::BuildPackageTree(spec);
    Bytes cipher = writer::BitStringValue(tree.At("cipher"));
    cipher[0] ^= 0x01;
    writer::SetBitStringValue(tree.At("cipher"), cipher);
    if (row.refreshDigests) writer::RefreshDigests(tree);
    if (row.resign) writer::Resign(tree, spec);
    const Parsed parsed = ParsePackage(writer::Serialize(tree));
    ASSERT_EQ(parsed.entries.size(), ExpectedLayout().size());

    Write("cipher", BitStringValueAt(parsed.file, parsed.entries[kCipher]));
    const bool digestMatches = Hex(BitStringValueAt(parsed.file, parsed.entries[kCipherDigest])) ==
                               Upper(OpenSsl("dgst -sha256 -r " + Quoted("cipher")).substr(0, 64));
    EXPECT_EQ(digestMatches, row.digestMatches);
    EXPECT_EQ(OpenSslVerifies(parsed, WholeElementAt(parsed.file, parsed.entries[kSignedRegion]),
                              kS2Signature, kS2Certificate, "sha256"),
              row.signaturesHold);
    EXPECT_EQ(OpenSslVerifies(parsed, WholeElementAt(parsed.file, parsed.entries[kTpkPlaintext]),
                              kS3Signature, kS3Certificate, "sha256"),
              row.signaturesHold);
  }
}

// ---------------------------------------------------------------- read back

std::string Text(der::Bytes span) { return std::string(span.begin(), span.end()); }
Bytes Value(der::Bytes span) { return Bytes(span.begin(), span.end()); }

TEST_F(WriterTest, ReaderGetsBackEveryFieldOfTheSpec) {
  writer::PackageSpec spec = writer::DefaultPackageSpec(test::SharedPki());
  writer::VersionInfoSpec& info = spec.versionInfo;
  info.memo = "";
  info.accountName = "帳戶名稱";
  info.mac = {0, "2.0", "http://mac.example/update"};
  info.ios = {1, "3.0", "http://ios.example/update"};
  info.android = {0, "4.0", "http://android.example/update"};
  info.winPhone = {1, "5.0", "http://wp.example/update"};
  spec.tpkVersion = 3;
  spec.ipkVersion = 2;
  spec.ipkSignTime = "891231235959Z";
  spec.tpkSignTime = "900101000000Z";
  spec.s1.certificateAsBase64 = true;
  const Bytes file = writer::BuildPackage(spec);

  TpkPackage package;
  ASSERT_EQ(ReadPackage(package, file.data(), file.size()), 0);
  EXPECT_EQ(package.version, 3);
  EXPECT_EQ(package.ipkData.version, 2);
  EXPECT_EQ(package.ipkData.ipkSignTime.year, 2089);
  EXPECT_EQ(package.tpkSignTime.year, 1990);
  EXPECT_EQ(Value(package.cipher), writer::EncryptDocument(spec.document, spec.password));
  EXPECT_EQ(Value(package.snapshot), spec.snapshot);

  const VersionInfo& read = package.versionInfo;
  const std::pair<der::Bytes, std::string> texts[] = {{read.version, info.version},
                                                      {read.uniqueSerial, info.uniqueSerial},
                                                      {read.batchNumber, info.batchNumber},
                                                      {read.fileName, info.fileName},
                                                      {read.kind, info.kind},
                                                      {read.transaction, info.transaction},
                                                      {read.memo, info.memo},
                                                      {read.accountName, info.accountName},
                                                      {read.certChainUrl, info.certChainUrl},
                                                      {read.winVersion, info.win.version},
                                                      {read.winUpdate, info.win.update},
                                                      {read.macVersion, info.mac.version},
                                                      {read.macUpdate, info.mac.update},
                                                      {read.iosVersion, info.ios.version},
                                                      {read.iosUpdate, info.ios.update},
                                                      {read.androidVersion, info.android.version},
                                                      {read.androidUpdate, info.android.update},
                                                      {read.winPhoneVersion, info.winPhone.version},
                                                      {read.winPhoneUpdate, info.winPhone.update}};
  for (const auto& [span, expected] : texts) EXPECT_EQ(Text(span), expected);
  const std::pair<int32_t, int64_t> supports[] = {{read.winSupport, info.win.support},
                                                  {read.macSupport, info.mac.support},
                                                  {read.iosSupport, info.ios.support},
                                                  {read.androidSupport, info.android.support},
                                                  {read.winPhoneSupport, info.winPhone.support}};
  for (const auto& [value, expected] : supports) EXPECT_EQ(value, expected);
  const std::pair<der::Bytes, Bytes> seals[] = {{read.tpkTrustSeal, info.tpkTrustSeal},
                                                {read.tpkMistrustSeal, info.tpkMistrustSeal},
                                                {read.ipkTrustSeal, info.ipkTrustSeal},
                                                {read.ipkMistrustSeal, info.ipkMistrustSeal},
                                                {read.onlineTrustSeal, info.onlineTrustSeal},
                                                {read.onlineMistrustSeal, info.onlineMistrustSeal}};
  for (const auto& [span, expected] : seals) EXPECT_EQ(Value(span), expected);

  // The Base64 form of s1's certificate reads as the same certificate.
  ASSERT_FALSE(package.ipkData.s1Certificate.empty());
  ASSERT_FALSE(package.ipkData.s2Certificate.empty());
  const X509Certificate& s1 = package.ipkData.s1Certificate.front();
  EXPECT_EQ(Bytes(s1.raw.begin(), s1.raw.end()), test::SharedPki().insurer.certificate);
  const X509Certificate& s3 = package.s3Certificate.front();
  EXPECT_EQ(Bytes(s3.raw.begin(), s3.raw.end()), test::SharedPki().authority.certificate);
}

// Malformed variants made with the tree API, read by the package reader.
TEST_F(WriterTest, VariantsMadeWithTheTreeReachTheReaderAsIntended) {
  struct Row {
    const char* name;
    std::function<void(DerNode&)> change;
    std::function<void(Bytes&)> changeBytes;
    int32_t code;
  };
  const Row rows[] = {
      {"unchanged", {}, {}, 0},
      {"one byte too many", {}, [](Bytes& b) { b.push_back(0); }, tlv::kLengthMismatch},
      {"one byte short", {}, [](Bytes& b) { b.pop_back(); }, tlv::kOutOfData},
      {"unused bits 1",
       [](DerNode& t) { t.At("s3Signature").content[0] = 1; },
       {},
       tlv::kInvalidBitString},
      {"empty snapshot",
       [](DerNode& t) { writer::SetBitStringValue(t.At("snapshot"), {}); },
       {},
       tlv::kInvalidBitString},
      {"memo as PrintableString",
       [](DerNode& t) { t.At("memo").tag = writer::tag::kPrintableString; },
       {},
       tlv::kUnexpectedTag},
      {"winPhoneUpdate missing",
       [](DerNode& t) { t.Remove("winPhoneUpdate"); },
       {},
       tlv::kOutOfData},
      {"extra version-info element",
       [](DerNode& t) { t.InsertAfter("winPhoneUpdate", writer::Utf8String("extra", "x")); },
       {},
       tlv::kLengthMismatch},
      {"four length bytes on the header",
       [](DerNode& t) {
         t.At("header").lengthBytes =
             writer::LongFormLength(writer::SerializeContent(t.At("header")).size(), 4);
       },
       {},
       0},
      {"five length bytes on the cipher",
       [](DerNode& t) {
         t.At("cipher").lengthBytes = writer::LongFormLength(t.At("cipher").content.size(), 5);
       },
       {},
       tlv::kInvalidLength},
      {"five-byte INTEGER",
       [](DerNode& t) { t.At("winSupport") = writer::Integer("winSupport", int64_t{1} << 32); },
       {},
       tlv::kInvalidLength},
  };
  const writer::PackageSpec spec = writer::DefaultPackageSpec(test::SharedPki());
  const DerNode built = writer::BuildPackageTree(spec);
  for (const Row& row : rows) {
    DerNode tree = built;
    if (row.change) row.change(tree);
    Bytes file = writer::Serialize(tree);
    if (row.changeBytes) row.changeBytes(file);
    TpkPackage package;
    EXPECT_EQ(ReadPackage(package, file.data(), file.size()), row.code) << row.name;
  }
}

// ---------------------------------------------------------------- PKI

struct Extension {
  bool critical = false;
  std::string value;  // the lines under the label, trimmed and joined
};

// The named extensions of a DER certificate as OpenSSL prints them.
std::map<std::string, Extension> ExtensionsOf(const std::filesystem::path& certificate) {
  const std::string out =
      OpenSsl("x509 -inform DER -noout -in " + ShellQuote(certificate.string()) +
              " -ext basicConstraints,subjectKeyIdentifier,authorityKeyIdentifier");
  std::map<std::string, Extension> extensions;
  std::istringstream lines(out);
  Extension* current = nullptr;
  for (std::string line; std::getline(lines, line);) {
    const size_t text = line.find_first_not_of(' ');
    if (text == std::string::npos) continue;
    if (text == 0) {
      const size_t colon = line.find(':');
      current = &extensions[line.substr(0, colon)];
      current->critical = line.find("critical", colon) != std::string::npos;
    } else if (current) {
      current->value += line.substr(text);
    }
  }
  return extensions;
}

const char* StemOf(writer::Identity writer::TestPki::*member) {
  for (const writer::PkiRole& role : writer::kPkiRoles) {
    if (role.identity == member) return role.stem;
  }
  return "";
}

std::string WithoutColons(std::string text) {
  std::erase(text, ':');
  return text;
}

TEST_F(WriterTest, PkiChainsUnderOpenSslVerifyWithKeyIdentifiersAndConstraints) {
  const writer::TestPki& pki = test::SharedPki();
  for (const writer::PkiRole& role : writer::kPkiRoles) {
    Write(std::string(role.stem) + ".der", (pki.*role.identity).certificate);
  }
  for (const writer::PkiRole& role : writer::kPkiRoles) {
    const test::CommandResult verify = VerifyChain(dir_ / "root.der", dir_ / "intermediate.der",
                                                   dir_ / (std::string(role.stem) + ".der"));
    EXPECT_EQ(verify.exitCode, 0) << role.stem << verify.out << verify.err;
  }

  for (const writer::PkiRole& role : writer::kPkiRoles) {
    SCOPED_TRACE(role.stem);
    const auto extensions = ExtensionsOf(dir_ / (std::string(role.stem) + ".der"));
    ASSERT_EQ(extensions.count("X509v3 Basic Constraints"), 1u);
    const Extension& constraints = extensions.at("X509v3 Basic Constraints");
    EXPECT_EQ(constraints.value, role.isCa ? "CA:TRUE" : "CA:FALSE");
    EXPECT_EQ(constraints.critical, role.isCa);

    // The subject key identifier is SHA-1 of the DER RSAPublicKey, as OpenSSL computes it.
    const std::string der = Quoted(std::string(role.stem) + ".der");
    const std::string keyHash = OpenSsl("x509 -inform DER -in " + der +
                                        " -pubkey -noout | openssl rsa -pubin "
                                        "-RSAPublicKey_out -outform DER | openssl dgst -sha1 -r");
    EXPECT_EQ(WithoutColons(extensions.at("X509v3 Subject Key Identifier").value),
              Upper(keyHash.substr(0, 40)));
    EXPECT_EQ(WithoutColons(extensions.at("X509v3 Subject Key Identifier").value),
              Hex((pki.*role.identity).key->KeyIdentifier()));
  }

  // Each authority key identifier names its issuer's subject key identifier.
  for (const writer::PkiRole& role : writer::kPkiRoles) {
    const std::string issuerStem = StemOf(role.issuer);
    EXPECT_EQ(ExtensionsOf(dir_ / (std::string(role.stem) + ".der"))
                  .at("X509v3 Authority Key Identifier")
                  .value,
              ExtensionsOf(dir_ / (issuerStem + ".der")).at("X509v3 Subject Key Identifier").value)
        << role.stem;
  }
}

TEST_F(WriterTest, CertificateSpecOptionsShowInOpenSslsReading) {
  const writer::TestPki& pki = test::SharedPki();
  const std::time_t now = std::time(nullptr);
  struct Row {
    const char* name;
    std::function<void(writer::CertificateSpec&)> change;
    const char* textExpected;  // in `openssl x509 -text`; may be empty
    const char* textAbsent;    // not in it; may be empty
    bool verifies;
  };
  const Row rows[] = {
      {"defaults", {}, "sha256WithRSAEncryption", "", true},
      {"sha1", [](writer::CertificateSpec& s) { s.digest = Digest::kSha1; },
       "sha1WithRSAEncryption", "", true},
      {"md5", [](writer::CertificateSpec& s) { s.digest = Digest::kMd5; }, "md5WithRSAEncryption",
       "", true},
      {"fixed serial",
       [](writer::CertificateSpec& s) {
         s.serial = {0x01, 0xAF};
       },
       "Serial Number: 431 (0x1af)", "", true},
      {"no key identifiers", [](writer::CertificateSpec& s) { s.keyIdentifiers = false; }, "",
       "Key Identifier", true},
      {"expired yesterday",
       [now](writer::CertificateSpec& s) {
         s.notBefore = writer::CertTimeText(now - 10 * 86400);
         s.notAfter = writer::CertTimeText(now - 86400);
       },
       "", "", false},
      {"valid after 2050 (GeneralizedTime)",
       [](writer::CertificateSpec& s) { s.notAfter = "20610101000000"; },
       "Not After : Jan  1 00:00:00 2061 GMT", "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writer::CertificateSpec spec;
    spec.subject = "CN=Variant Signer,O=QALV Test,C=TW";
    spec.notBefore = writer::CertTimeText(now - 86400);
    spec.notAfter = writer::CertTimeText(now + 86400);
    if (row.change) row.change(spec);
    const writer::Identity signer =
        writer::IssueCertificate(spec, pki.insurer.key, &pki.intermediate);
    Write("variant.der", signer.certificate);
    Write("root.der", pki.root.certificate);
    Write("intermediate.der", pki.intermediate.certificate);
    const std::string text = OpenSsl("x509 -inform DER -noout -text -in " + Quoted("variant.der"));
    EXPECT_NE(text.find("Subject: CN = Variant Signer, O = QALV Test, C = TW"), std::string::npos);
    EXPECT_NE(text.find("Issuer: CN = QALV Test Intermediate CA"), std::string::npos);
    if (*row.textExpected) {
      EXPECT_NE(text.find(row.textExpected), std::string::npos) << text;
    }
    if (*row.textAbsent) {
      EXPECT_EQ(text.find(row.textAbsent), std::string::npos) << text;
    }

    const test::CommandResult verify =
        VerifyChain(dir_ / "root.der", dir_ / "intermediate.der", dir_ / "variant.der");
    EXPECT_EQ(verify.exitCode == 0, row.verifies) << verify.out << verify.err;
  }
}

TEST_F(WriterTest, ChainFileIsCertificatesOnlySignedDataForOpenSsl) {
  const writer::TestPki& pki = test::SharedPki();
  Write("chain.p7b", writer::ChainFile(pki));
  const std::string out = OpenSsl("pkcs7 -inform DER -print_certs -in " + Quoted("chain.p7b"));
  // Both certificates, in order, byte for byte.
  std::string expected;
  for (const writer::Identity* identity : {&pki.root, &pki.intermediate}) {
    Write("one.der", identity->certificate);
    expected += OpenSsl("x509 -inform DER -in " + Quoted("one.der"));
  }
  std::string pemBlocks;
  std::istringstream lines(out);
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("-----BEGIN")) inside = true;
    if (inside) pemBlocks += line + "\n";
    if (line.starts_with("-----END")) inside = false;
  }
  EXPECT_EQ(pemBlocks, expected);

  const std::string structure =
      OpenSsl("pkcs7 -inform DER -print -noout -in " + Quoted("chain.p7b"));
  for (const char* part :
       {"type: pkcs7-signedData (1.2.840.113549.1.7.2)", "version: 1\n    md_algs:\n      <EMPTY>",
        "type: pkcs7-data (1.2.840.113549.1.7.1)\n      d.data: <ABSENT>",
        "signer_info:\n      <EMPTY>"}) {
    EXPECT_NE(structure.find(part), std::string::npos) << part;
  }
}

// ---------------------------------------------------------------- tpk ca, tpk pack

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  std::string errors;
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors))
      << errors << text;
  return value;
}

std::string Tpk(const std::string& args) { return ShellQuote(test::TpkPath()) + " " + args; }

TEST_F(WriterTest, TpkCaWritesAPkiAndAChainOpenSslAccepts) {
  const std::string keys = ShellQuote((test::TestDataDir() / "keys-pki").string());
  for (bool base64 : {false, true}) {
    SCOPED_TRACE(base64 ? "base64" : "der");
    const std::string out = (dir_ / (base64 ? "pki64" : "pki")).string();
    const test::CommandResult result = test::Run(
        Tpk("ca --out " + ShellQuote(out) + " --keys " + keys + (base64 ? " --base64" : "")));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Json::Value answer = ParseJson(result.out);

    const std::string skiText = OpenSsl("x509 -inform DER -noout -ext subjectKeyIdentifier -in " +
                                        ShellQuote(out + "/intermediate.crt"));
    const std::string intermediateSki = WithoutColons(skiText.substr(skiText.find('\n') + 1));
    EXPECT_EQ(answer["chainKeyId"].asString() + "\n",
              intermediateSki.substr(intermediateSki.find_first_not_of(' ')));
    EXPECT_EQ(answer["certificates"]["insurer"]["authorityKeyId"], answer["chainKeyId"]);
    EXPECT_EQ(answer["certificates"]["authority"]["authorityKeyId"], answer["chainKeyId"]);
    EXPECT_EQ(answer["chain"].asString(), out + "/chain.p7b");

    const Bytes chain = test::ReadFile(out + "/chain.p7b");
    ASSERT_FALSE(chain.empty());
    EXPECT_EQ(chain[0], base64 ? 'M' : 0x30);
    const std::string decode =
        base64 ? "openssl base64 -d -A -in " + ShellQuote(out + "/chain.p7b") + " | "
               : "cat " + ShellQuote(out + "/chain.p7b") + " | ";
    const test::CommandResult certs = test::Run(decode + "openssl pkcs7 -inform DER -print_certs");
    EXPECT_EQ(certs.exitCode, 0) << certs.err;
    EXPECT_NE(certs.out.find("subject=CN = QALV Test Root CA"), std::string::npos);
    EXPECT_NE(certs.out.find("subject=CN = QALV Test Intermediate CA"), std::string::npos);

    for (const char* signer : {"insurer", "authority"}) {
      const test::CommandResult verify =
          VerifyChain(out + "/root.crt", out + "/intermediate.crt", out + "/" + signer + ".crt");
      EXPECT_EQ(verify.exitCode, 0) << signer << verify.out << verify.err;
    }
  }
}

TEST_F(WriterTest, TpkCaMakesNewKeysOfTheAskedSizeAndValidity) {
  const std::string out = (dir_ / "pki").string();
  const test::CommandResult result =
      test::Run(Tpk("ca --out " + ShellQuote(out) + " --bits 1024 --days 2"));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(OpenSsl("rsa -noout -text -in " + ShellQuote(out + "/insurer.key"))
                .find("Private-Key: (1024 bit"),
            std::string::npos);
  // Valid now, expired three days from now.
  const std::string cert = ShellQuote(out + "/insurer.crt");
  EXPECT_EQ(OpenSslResult("x509 -inform DER -noout -checkend 0 -in " + cert).exitCode, 0);
  EXPECT_NE(OpenSslResult("x509 -inform DER -noout -checkend 259200 -in " + cert).exitCode, 0);
}

TEST_F(WriterTest, TpkPackBuildsWhatItWasAskedFor) {
  const std::string pki = (dir_ / "pki").string();
  ASSERT_EQ(test::Run(Tpk("ca --out " + ShellQuote(pki) + " --keys " +
                          ShellQuote((test::TestDataDir() / "keys-pki").string())))
                .exitCode,
            0);
  std::filesystem::create_directory(dir_ / "seals");
  const char* sealNames[] = {"TTS", "TMS", "ITS", "IMS", "OTS", "OMS"};
  for (const char* name : sealNames) {
    test::WriteFile(dir_ / "seals" / name, std::string("seal ") + name);
  }
  test::WriteFile(dir_ / "preview.png", std::string("preview picture"));
  test::WriteFile(dir_ / "doc.pdf", std::string("%PDF-1.4 policy"));

  const test::CommandResult result = test::Run(
      Tpk("pack --out " + Quoted("out.tpk") + " --document " + Quoted("doc.pdf") +
          " --password pw --preview " + Quoted("preview.png") + " --seal-dir " + Quoted("seals") +
          " --ipk-mistrust-seal " + Quoted("doc.pdf") + " --pki " + ShellQuote(pki) +
          " --s1-digest sha1 --s3-digest md5 --memo '測試 memo' --win-support 0 --win-phone-update "
          "http://wp --cert-base64 --ipk-sign-time 300102030405Z"));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const Json::Value answer = ParseJson(result.out);
  const Bytes file = test::ReadFile(dir_ / "out.tpk");
  EXPECT_EQ(answer["length"].asUInt64(), file.size());

  TpkPackage package;
  ASSERT_EQ(ReadPackage(package, file.data(), file.size()), 0);
  EXPECT_EQ(Text(package.versionInfo.memo), "測試 memo");
  EXPECT_EQ(package.versionInfo.winSupport, 0);
  EXPECT_EQ(Text(package.versionInfo.winPhoneUpdate), "http://wp");
  EXPECT_EQ(Text(package.versionInfo.tpkTrustSeal), "seal TTS");
  EXPECT_EQ(Text(package.versionInfo.ipkMistrustSeal), "%PDF-1.4 policy");
  EXPECT_EQ(Text(package.versionInfo.onlineMistrustSeal), "seal OMS");
  EXPECT_EQ(Text(package.snapshot), "preview picture");
  EXPECT_EQ(package.ipkData.ipkSignTime.year, 2030);
  EXPECT_EQ(answer["cipherDigest"].asString(), Hex(writer::Sha256(Value(package.cipher))));

  struct Check {
    const char* name;
    Bytes data;
    der::Bytes signature;
    const CertificateList& certificate;
    int32_t digestId;
  };
  const Check checks[] = {
      {"s1", test::ReadFile(dir_ / "doc.pdf"), package.ipkData.s1Signature,
       package.ipkData.s1Certificate, digest_id::kSha1},
      {"s2", Value(package.ipkData.signedRegion), package.ipkData.s2Signature,
       package.ipkData.s2Certificate, digest_id::kSha256},
      {"s3", Value(package.tpkPlaintext), package.s3Signature, package.s3Certificate,
       digest_id::kMd5},
  };
  for (const Check& check : checks) {
    ASSERT_FALSE(check.certificate.empty()) << check.name;
    int32_t digestId = -1;
    EXPECT_EQ(VerifySignature(check.certificate.front().publicKey, digestId, check.data.data(),
                              check.data.size(), check.signature.data(), check.signature.size()),
              0)
        << check.name;
    EXPECT_EQ(digestId, check.digestId) << check.name;
  }
}

TEST_F(WriterTest, TpkPackRefusesMissingOrUnreadableInputsWithUsageStatus) {
  const std::string keys = (test::TestDataDir() / "keys-pki").string();
  const std::string pki = (dir_ / "pki").string();
  ASSERT_EQ(test::Run(Tpk("ca --out " + ShellQuote(pki) + " --keys " + ShellQuote(keys))).exitCode,
            0);
  test::WriteFile(dir_ / "doc.pdf", std::string("%PDF"));
  const std::string base = "pack --out " + Quoted("out.tpk") + " --password pw ";
  const std::string document = " --document " + Quoted("doc.pdf");
  const std::string signers = " --pki " + ShellQuote(pki);
  const std::pair<const char*, std::string> rows[] = {
      {"no document", base + signers},
      {"document missing", base + signers + " --document " + Quoted("absent.pdf")},
      {"no signers", base + document},
      {"signers half given", base + document + " --signer-key " + ShellQuote(pki + "/insurer.key")},
      {"unreadable key", base + document + signers + " --ca-key " + Quoted("absent.key")},
      {"key that is not a key", base + document + signers + " --ca-key " + Quoted("doc.pdf")},
      {"unknown digest", base + document + signers + " --s2-digest sha3"},
      {"unreadable seal folder", base + document + signers + " --seal-dir " + Quoted("none")},
  };
  for (const auto& [name, args] : rows) {
    const test::CommandResult result = test::Run(Tpk(args));
    EXPECT_EQ(result.exitCode, 2) << name << "\n" << result.err;
    EXPECT_EQ(result.out, "") << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.tpk"));
}

}  // namespace
}  // namespace qalv
