// The package and version-info readers over packages made by the package
// writer: the layout's every refusal code, the fields a valid package fills,
// and the trace lines the reader writes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "package/tpk_package.h"
#include "platform/trace.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "writer/der_writer.h"
#include "writer/package_writer.h"
#include "writer/test_pki.h"

namespace qalv {
namespace {

using writer::Bytes;
using writer::DerNode;

const DerNode& Tree() {
  static const DerNode tree = writer::BuildPackageTree(test::SharedPackageSpec());
  return tree;
}

Bytes ToBytes(der::Bytes span) { return Bytes(span.begin(), span.end()); }

// Keeps the reader's trace out of the test output, or records it.
class PackageTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink([this](std::string_view text) { log_.append(text); });
    trace::SetDebugSink([this](std::string_view text) { dumps_.append(text); });
  }
  void TearDown() override {
    trace::SetLogSink({});
    trace::SetDebugSink({});
  }

  int32_t Read(const Bytes& file) { return ReadPackage(package_, file.data(), file.size()); }

  TpkPackage package_;
  std::string log_;
  std::string dumps_;
};

TEST_F(PackageTest, ValidPackageFillsEveryField) {
  const DerNode& tree = Tree();
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  ASSERT_EQ(Read(writer::Serialize(tree)), 0);

  EXPECT_EQ(package_.version, spec.tpkVersion);
  EXPECT_EQ(package_.ipkData.version, spec.ipkVersion);
  EXPECT_EQ(ToBytes(package_.tpkPlaintext), writer::Serialize(tree.At("tpk_plaintext")));
  EXPECT_EQ(ToBytes(package_.ipkData.whole), writer::Serialize(tree.At("ipk_data")));
  EXPECT_EQ(ToBytes(package_.ipkData.signedRegion), writer::Serialize(tree.At("signedRegion")));
  EXPECT_EQ(ToBytes(package_.versionInfo.whole), writer::Serialize(tree.At("versionInfo")));
  const std::pair<const char*, der::Bytes> values[] = {
      {"s1Signature", package_.ipkData.s1Signature},
      {"cipherDigest", package_.ipkData.cipherDigest},
      {"snapshotDigest", package_.ipkData.snapshotDigest},
      {"s2Signature", package_.ipkData.s2Signature},
      {"s3Signature", package_.s3Signature},
      {"cipher", package_.cipher},
      {"snapshot", package_.snapshot}};
  for (const auto& [name, span] : values) {
    EXPECT_EQ(ToBytes(span), writer::BitStringValue(tree.At(name))) << name;
  }
  EXPECT_EQ(package_.snapshot.size(), spec.snapshot.size());

  const struct {
    const CertificateList& list;
    const Bytes& der;
  } certificates[] = {{package_.ipkData.s1Certificate, spec.s1.signer.certificate},
                      {package_.ipkData.s2Certificate, spec.s2.signer.certificate},
                      {package_.s3Certificate, spec.s3.signer.certificate}};
  for (const auto& [list, der] : certificates) {
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(Bytes(list[0].raw.begin(), list[0].raw.end()), der);
  }

  const VersionInfo& info = package_.versionInfo;
  const writer::VersionInfoSpec& expected = spec.versionInfo;
  EXPECT_EQ(ToBytes(info.memo), writer::ToBytes(expected.memo));
  EXPECT_EQ(ToBytes(info.accountName), writer::ToBytes(expected.accountName));
  EXPECT_EQ(ToBytes(info.certChainUrl), writer::ToBytes(expected.certChainUrl));
  EXPECT_EQ(ToBytes(info.winPhoneUpdate), writer::ToBytes(expected.winPhone.update));
  EXPECT_EQ(ToBytes(info.onlineMistrustSeal), expected.onlineMistrustSeal);
  EXPECT_EQ(info.winSupport, expected.win.support);
}

TEST_F(PackageTest, SigningTimesFollowTheCenturyRule) {
  DerNode tree = Tree();
  tree.At("tpkSignTime").content = writer::ToBytes("891231235959Z");
  tree.At("ipkSignTime").content = writer::ToBytes("900101000000Z");
  ASSERT_EQ(Read(writer::Serialize(tree)), 0);
  EXPECT_EQ(package_.tpkSignTime.year, 2089);
  EXPECT_EQ(package_.tpkSignTime.second, 59);
  EXPECT_EQ(package_.ipkData.ipkSignTime.year, 1990);
  EXPECT_EQ(package_.ipkData.ipkSignTime.month, 1);
}

TEST_F(PackageTest, EmptyInputAndEmptyRecordFail) {
  EXPECT_EQ(ReadPackage(package_, nullptr, 0), 20);
  const Bytes nothing;
  EXPECT_EQ(Read(nothing), 20);
}

TEST_F(PackageTest, EveryTruncationFailsWithOutOfData) {
  const Bytes file = writer::Serialize(Tree());
  for (size_t length = 1; length < file.size(); ++length) {
    TpkPackage package;
    ASSERT_EQ(ReadPackage(package, file.data(), length), 20) << "cut to " << length << " bytes";
  }
}

TEST_F(PackageTest, TrailingByteAfterTheOuterElementFails) {
  Bytes file = writer::Serialize(Tree());
  file.push_back(0x00);
  EXPECT_EQ(Read(file), 26);
}

TEST_F(PackageTest, RereadingTheOwnCopyGivesTheSameRecord) {
  ASSERT_EQ(Read(writer::Serialize(Tree())), 0);
  const der::Bytes cipher = package_.cipher;
  ASSERT_EQ(ReadPackage(package_, nullptr, 0), 0);
  EXPECT_EQ(package_.cipher.data(), cipher.data());
  EXPECT_EQ(package_.cipher.size(), cipher.size());
  EXPECT_EQ(package_.s3Certificate.size(), 1u) << "a second read does not add certificates";
}

// One row per malformed variant: how the writer's tree is changed, and the
// code the reader must return.
struct Variant {
  const char* name;
  std::function<void(DerNode&)> change;
  int32_t code;
};

class PackageVariantTest : public PackageTest, public testing::WithParamInterface<Variant> {};

TEST_P(PackageVariantTest, ReturnsItsCode) {
  DerNode tree = Tree();
  GetParam().change(tree);
  EXPECT_EQ(Read(writer::Serialize(tree)), GetParam().code);
}

void SetLength(DerNode& node, Bytes lengthBytes) { node.lengthBytes = std::move(lengthBytes); }

DerNode& VersionInfoChild(DerNode& tree, size_t index) { return tree.At("versionInfo").children.at(index); }

// Declares `node`'s content to end `before` bytes ahead of the end of its
// child `last`; the children after that point stay where they are.
void EndExtentAt(DerNode& node, std::string_view last, size_t before) {
  size_t length = 0;
  for (const DerNode& child : node.children) {
    length += writer::Serialize(child).size();
    if (child.name == last) break;
  }
  SetLength(node, writer::MinimalLength(length - before));
}

const Variant kVariants[] = {
    // Lengths and their forms.
    {"OuterLengthNonMinimal",
     [](DerNode& t) { SetLength(t, writer::LongFormLength(writer::SerializeContent(t).size(), 4)); }, 0},
    {"OuterLengthFiveBytes",
     [](DerNode& t) { SetLength(t, writer::LongFormLength(writer::SerializeContent(t).size(), 5)); }, 24},
    {"OuterLengthShort",
     [](DerNode& t) { SetLength(t, writer::MinimalLength(writer::SerializeContent(t).size() - 1)); }, 26},
    {"UnnamedHeaderLengthZero", [](DerNode& t) { SetLength(t.At("header"), {0x00}); }, 0},
    {"UnnamedHeaderIndefiniteForm", [](DerNode& t) { SetLength(t.At("header"), {0x80}); }, 0},
    {"UnnamedS1LengthOne", [](DerNode& t) { SetLength(t.At("s1"), {0x01}); }, 0},
    {"UnnamedS2NonMinimal", [](DerNode& t) { SetLength(t.At("s2"), {0x82, 0x00, 0x03}); }, 0},
    {"UnnamedS3LengthZero", [](DerNode& t) { SetLength(t.At("s3"), {0x00}); }, 0},
    {"UnnamedHeaderPastTheEnd",
     [](DerNode& t) { SetLength(t.At("header"), {0x84, 0x00, 0xFF, 0xFF, 0xFF}); }, 20},
    // Signed extents: what the reader takes from tpk_plaintext (s3) and the
    // signed region (s2) must end within their declared lengths; the sign
    // times after them need not.
    {"PlaintextDeclaredEmpty", [](DerNode& t) { SetLength(t.At("tpk_plaintext"), {0x00}); }, 29},
    {"PlaintextEndsInsideIpkData",
     [](DerNode& t) { EndExtentAt(t.At("tpk_plaintext"), "ipk_data", 1); }, 29},
    {"PlaintextEndsInsideVersionInfo",
     [](DerNode& t) { EndExtentAt(t.At("tpk_plaintext"), "versionInfo", 1); }, 29},
    {"PlaintextEndsAtVersionInfo",
     [](DerNode& t) { EndExtentAt(t.At("tpk_plaintext"), "versionInfo", 0); }, 0},
    {"SignedRegionDeclaredEmpty", [](DerNode& t) { SetLength(t.At("signedRegion"), {0x00}); }, 29},
    {"SignedRegionEndsInsideS1", [](DerNode& t) { EndExtentAt(t.At("signedRegion"), "s1", 1); }, 29},
    {"SignedRegionEndsInsideCipherDigest",
     [](DerNode& t) { EndExtentAt(t.At("signedRegion"), "cipherDigest", 1); }, 29},
    {"SignedRegionEndsInsideSnapshotDigest",
     [](DerNode& t) { EndExtentAt(t.At("signedRegion"), "snapshotDigest", 1); }, 29},
    {"SignedRegionEndsAtSnapshotDigest",
     [](DerNode& t) { EndExtentAt(t.At("signedRegion"), "snapshotDigest", 0); }, 0},
    // Any other malformation keeps its own code.
    {"SignedRegionShortAndSnapshotMissing",
     [](DerNode& t) {
       SetLength(t.At("signedRegion"), {0x00});
       t.children.pop_back();
     },
     20},
    {"IpkDataWithTrailingElement",
     [](DerNode& t) { t.At("s2").children.push_back(writer::Integer("extra", 1)); }, 26},
    // The inner package's elements are read within its declared extent.
    {"IpkDataDeclaredShorter",
     [](DerNode& t) {
       SetLength(t.At("ipk_data"), writer::MinimalLength(writer::SerializeContent(t.At("ipk_data")).size() - 1));
     },
     20},
    {"TrailingElementAfterSnapshot",
     [](DerNode& t) { t.children.push_back(writer::BitString("extra", {0x01})); }, 26},
    {"SnapshotMissing", [](DerNode& t) { t.children.pop_back(); }, 20},
    // Tags.
    {"OuterTagSet", [](DerNode& t) { t.tag = 0x31; }, 22},
    {"CipherAsOctetString", [](DerNode& t) { t.At("cipher").tag = 0x04; }, 22},
    {"VersionAsBitString", [](DerNode& t) { t.At("tpkVersion").tag = 0x03; }, 22},
    {"SignTimeAsGeneralizedTime", [](DerNode& t) { t.At("tpkSignTime").tag = 0x18; }, 278},
    // INTEGER rules.
    {"VersionLeadingZero", [](DerNode& t) { t.At("tpkVersion").content = {0x00, 0x80}; }, 0},
    {"VersionNegative", [](DerNode& t) { t.At("tpkVersion").content = {0x80}; }, 24},
    {"VersionFiveBytes", [](DerNode& t) { t.At("ipkVersion").content = {0, 1, 2, 3, 4}; }, 24},
    // BIT STRING rule.
    {"SignatureUnusedBitsOne", [](DerNode& t) { t.At("s3Signature").content[0] = 1; }, 28},
    {"CipherOnlyUnusedBitsByte", [](DerNode& t) { t.At("cipher").content = {0x00}; }, 28},
    {"DigestEmpty", [](DerNode& t) { t.At("cipherDigest").content.clear(); }, 28},
    // UTCTime.
    {"SignTimeNotNumbers", [](DerNode& t) { t.At("ipkSignTime").content = writer::ToBytes("2612Z"); }, 256},
    // Certificates: the certificate reader's own codes come back unchanged.
    {"S1CertificateNotDer", [](DerNode& t) { writer::SetBitStringValue(t.At("s1Certificate"), writer::ToBytes("hello")); }, 0x60},
    {"S3CertificateTrailingByte",
     [](DerNode& t) {
       Bytes der = writer::BitStringValue(t.At("s3Certificate"));
       der.push_back(0);
       writer::SetBitStringValue(t.At("s3Certificate"), der);
     },
     0x7A},
    // Version-info record.
    {"VersionInfoExtraElement",
     [](DerNode& t) { t.At("versionInfo").children.push_back(writer::Utf8String("extra", "x")); }, 26},
    {"VersionInfoMissingLastElement", [](DerNode& t) { t.At("versionInfo").children.pop_back(); }, 20},
    {"MemoAsPrintableString", [](DerNode& t) { t.At("memo").tag = 0x13; }, 22},
    {"EmptyMemoAndAccountName",
     [](DerNode& t) {
       t.At("memo").content.clear();
       t.At("accountName").content.clear();
     },
     0},
    {"SealOfZeroBytes", [](DerNode& t) { t.At("ipkTrustSeal").content = {0x00}; }, 28},
    {"SupportNegative", [](DerNode& t) { VersionInfoChild(t, 15).content = {0xFF}; }, 24},
    {"TextAsSeal", [](DerNode& t) { t.At("tpkTrustSeal").tag = 0x0C; }, 22},
};

INSTANTIATE_TEST_SUITE_P(Variants, PackageVariantTest, testing::ValuesIn(kVariants),
                         [](const testing::TestParamInfo<Variant>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(PackageTest, SupportValuesReadAsWritten) {
  DerNode tree = Tree();
  tree.At("versionInfo").children.at(15).content = {0x00};  // winSupport
  tree.At("versionInfo").children.at(18).content = {0x00, 0x80};  // macSupport
  ASSERT_EQ(Read(writer::Serialize(tree)), 0);
  EXPECT_EQ(package_.versionInfo.winSupport, 0);
  EXPECT_EQ(package_.versionInfo.macSupport, 128);
}

TEST_F(PackageTest, CertificatesAsBase64TextAreRead) {
  writer::PackageSpec spec = test::SharedPackageSpec();
  spec.s1.certificateAsBase64 = true;
  spec.s3.certificateAsBase64 = true;
  ASSERT_EQ(Read(writer::BuildPackage(spec)), 0);
  ASSERT_EQ(package_.s3Certificate.size(), 1u);
  const X509Certificate& s3 = package_.s3Certificate[0];
  EXPECT_EQ(Bytes(s3.raw.begin(), s3.raw.end()), spec.s3.signer.certificate);
}

TEST_F(PackageTest, TraceNamesWhatWasRead) {
  const DerNode& tree = Tree();
  ASSERT_EQ(Read(writer::Serialize(tree)), 0);
  const auto content = [&](const char* name) {
    return writer::SerializeContent(tree.At(name)).size();
  };
  const std::string expectedStart =
      "---TPK parse start\ntpk_p len=" + std::to_string(writer::Serialize(tree).size()) +
      "\ntpk content len=" + std::to_string(writer::SerializeContent(tree).size()) +
      "\nversion=1\ntpk_plaintext len=" + std::to_string(content("tpk_plaintext")) +
      "\nipk_data len=" + std::to_string(content("ipk_data")) +
      "\nversionInfo len=" + std::to_string(writer::Serialize(tree.At("versionInfo")).size()) +
      "\n---VersionInfo parse start\nVersionInfo content len=" +
      std::to_string(content("versionInfo")) + "\nversion=" + test::SharedPackageSpec().versionInfo.version + "\n";
  EXPECT_EQ(log_.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(log_.find("memo=" + test::SharedPackageSpec().versionInfo.memo + "\n"), std::string::npos);
  EXPECT_NE(log_.find("winSupport=1\nwinVersionwinUpdatemacSupport=0\n"), std::string::npos);
  EXPECT_NE(log_.find("s3 signature(256)"), std::string::npos);
  EXPECT_NE(log_.find("cipher len=" + std::to_string(package_.cipher.size()) + "\n"), std::string::npos);
  EXPECT_LT(log_.find("---VersionInfo parse end\n"), log_.find("s2 time="));
  EXPECT_TRUE(log_.ends_with("---TPK parse end\n"));

  const std::string winVersion = test::SharedPackageSpec().versionInfo.win.version;
  std::string versionDump = "[";
  for (size_t i = 0; i < winVersion.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ",%02X", static_cast<uint8_t>(winVersion[i]));
    versionDump += pair;
  }
  EXPECT_NE(dumps_.find(versionDump + "]\n"), std::string::npos);
}

}  // namespace
}  // namespace qalv
