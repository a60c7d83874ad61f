// The opening of writer-made packages, with the CA chain already stored in the
// work folder: every status the opening can end with, the results it leaves,
// the files it writes, and the update offer's safety rule.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

#include "opening/open_policy.h"
#include "platform/sealed_storage.h"
#include "platform/trace.h"
#include "session/format_local_time.h"
#include "tests/support/fixtures.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"
#include "writer/der_writer.h"

namespace qalv {
namespace {

using writer::DerNode;

constexpr char kPassword[] = "test-password";

// A signer of the insurer whose certificate expired yesterday.
writer::Identity ExpiredInsurer() {
  const writer::TestPki& pki = test::SharedPki();
  const std::time_t now = std::time(nullptr);
  writer::CertificateSpec spec;
  spec.subject = "CN=QALV Expired Insurer,O=QALV Test Insurance,C=TW";
  spec.notBefore = writer::CertTimeText(now - 400 * 86400);
  spec.notAfter = writer::CertTimeText(now - 86400);
  return writer::IssueCertificate(spec, pki.insurer.key, &pki.intermediate);
}

class OpenPolicyTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    window_.password = kPassword;
    state_.ownerWindow = &window_;
    state_.workFolder = (dir_ / "work").string() + "/";
    state_.trust = test::SharedTrust();
    state_.readerVersion = "1.2.8.0";
    std::filesystem::create_directories(dir_ / "work");
    test::StoreSealedChain(dir_ / "work");
  }


  int32_t Open(const writer::Bytes& file) {
    test::WriteFile(dir_ / "p.tpk", file);
    return OpenPolicy(state_, dir_ / "p.tpk");
  }

  int32_t Open(const writer::PackageSpec& spec, const std::function<void(DerNode&)>& change = {}) {
    DerNode tree = writer::BuildPackageTree(spec);
    if (change) change(tree);
    return Open(writer::Serialize(tree));
  }

  void ExpectDocument(const writer::PackageSpec& spec) {
    ASSERT_EQ(state_.decryptState, 0);
    ASSERT_EQ(static_cast<size_t>(state_.pdfLength), spec.document.size());
    EXPECT_TRUE(std::equal(spec.document.begin(), spec.document.end(), state_.pdfData.data()));
  }

  test::TempDir dir_;
  test::RecordingOwnerWindow window_;
  PolicyState state_;
};

TEST_F(OpenPolicyTest, GenuinePackagePassesEveryCheck) {
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  EXPECT_EQ(Open(spec), 0);
  EXPECT_EQ(state_.statusText, "");
  for (int32_t result : {state_.parseResult, state_.s3SignResult, state_.s2SignResult,
                         state_.s1SignResult, state_.s3CertResult, state_.s2CertResult,
                         state_.s1CertResult}) {
    EXPECT_EQ(result, 0);
  }
  EXPECT_EQ(state_.s1DigestId, 11);
  ExpectDocument(spec);
  // The signers' certificates are kept for export, byte for byte.
  EXPECT_EQ(state_.s1Signer.der, spec.s1.signer.certificate);
  EXPECT_EQ(state_.s2Signer.der, spec.s2.signer.certificate);
  EXPECT_EQ(state_.s3Signer.der, spec.s3.signer.certificate);
  EXPECT_TRUE(window_.messages.empty());
  ASSERT_EQ(window_.passwordRequests.size(), 1u);
  EXPECT_EQ(window_.passwordRequests[0],
            spec.versionInfo.certChainUrl + "|" + spec.versionInfo.batchNumber);

  // The version information, and the seven images in the work folder.
  EXPECT_EQ(state_.memo, spec.versionInfo.memo);
  EXPECT_EQ(state_.accountName, spec.versionInfo.accountName);
  EXPECT_EQ(state_.winVersion, spec.versionInfo.win.version);
  const std::pair<const std::string&, const writer::Bytes&> images[] = {
      {state_.tpkTrustSealPath, spec.versionInfo.tpkTrustSeal},
      {state_.tpkMistrustSealPath, spec.versionInfo.tpkMistrustSeal},
      {state_.ipkTrustSealPath, spec.versionInfo.ipkTrustSeal},
      {state_.ipkMistrustSealPath, spec.versionInfo.ipkMistrustSeal},
      {state_.onlineTrustSealPath, spec.versionInfo.onlineTrustSeal},
      {state_.onlineMistrustSealPath, spec.versionInfo.onlineMistrustSeal},
      {state_.snapshotPath, spec.snapshot}};
  for (const auto& [path, bytes] : images) {
    EXPECT_EQ(path.substr(0, state_.workFolder.size()), state_.workFolder);
    EXPECT_EQ(test::ReadFile(path), bytes) << path;
  }
  EXPECT_EQ(state_.snapshotPath, state_.workFolder + "SNS");
}

// Whatever stands at a seal's name (a link to another file, a hard link, a
// file open to everyone, a FIFO), the seal replaces it as a file only its
// owner may read, and nothing outside the work folder changes.
TEST_F(OpenPolicyTest, SealsReplaceWhateverStandsAtTheirNames) {
  const auto work = dir_ / "work";
  const auto outside = dir_ / "outside";
  test::WriteFile(outside, std::string("keep me"));
  std::filesystem::create_symlink(outside, work / "TTS");
  std::filesystem::create_symlink(dir_ / "absent", work / "TMS");
  std::filesystem::create_hard_link(outside, work / "ITS");
  test::WriteFile(work / "IMS", std::string("old seal, open to all"));
  std::filesystem::permissions(work / "IMS", std::filesystem::perms::all);
  ASSERT_EQ(mkfifo((work / "OTS").c_str(), 0600), 0);

  const writer::PackageSpec& spec = test::SharedPackageSpec();
  ASSERT_EQ(Open(spec), 0);
  EXPECT_EQ(test::ReadFile(outside), test::Bytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "absent"));
  for (const char* name : {"TTS", "TMS", "ITS", "IMS", "OTS", "OMS", "SNS"}) {
    SCOPED_TRACE(name);
    const auto status = std::filesystem::symlink_status(work / name);
    EXPECT_EQ(status.type(), std::filesystem::file_type::regular);
    EXPECT_EQ(status.permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::filesystem::hard_link_count(work / name), 1u);
  }
  EXPECT_EQ(test::ReadFile(work / "TTS"), spec.versionInfo.tpkTrustSeal);
  EXPECT_EQ(test::ReadFile(work / "ITS"), spec.versionInfo.ipkTrustSeal);
  EXPECT_EQ(test::ReadFile(work / "OTS"), spec.versionInfo.onlineTrustSeal);
}

TEST_F(OpenPolicyTest, Sha1ContentSignatureIsRecognised) {
  writer::PackageSpec spec = test::SharedPackageSpec();
  spec.s1.digest = writer::Digest::kSha1;
  EXPECT_EQ(Open(spec), 0);
  EXPECT_EQ(state_.s1DigestId, 5);
}

// One row per way a package can fail: how it is made, and what the opening
// must leave.
struct Outcome {
  const char* name;
  std::function<void(writer::PackageSpec&)> spec;
  std::function<void(DerNode&)> change;
  int32_t status;
  const char* text;
  int32_t decryptState;
  std::function<void(const PolicyState&)> also;
};

void Flip(DerNode& node) {
  writer::Bytes value = writer::BitStringValue(node);
  value[value.size() / 2] ^= 0x01;
  writer::SetBitStringValue(node, value);
}

void SetSignature(DerNode& tree, const char* name, const writer::SignatureSpec& by,
                  const writer::Bytes& over) {
  writer::SetBitStringValue(tree.At(name), by.signer.key->Sign(by.digest, over));
}

// Makes the element `name` declare only its first child, the others staying
// after its declared end, and returns the element as declared: what a signer
// who covered only that child signed.
writer::Bytes DeclareOnlyFirstChild(DerNode& tree, const char* name) {
  DerNode& node = tree.At(name);
  DerNode declared = node;
  declared.children.resize(1);
  node.lengthBytes = writer::MinimalLength(writer::SerializeContent(declared).size());
  return writer::Serialize(declared);
}

constexpr char kForgedMemo[] = "保單條款已由第三人變更";

class OpenPolicyOutcomeTest : public OpenPolicyTest, public testing::WithParamInterface<Outcome> {};

TEST_P(OpenPolicyOutcomeTest, EndsAsDescribed) {
  const Outcome& c = GetParam();
  writer::PackageSpec spec = test::SharedPackageSpec();
  if (c.spec) c.spec(spec);
  EXPECT_EQ(Open(spec, c.change), c.status);
  EXPECT_EQ(state_.statusCode, c.status);
  EXPECT_EQ(state_.statusText, c.text);
  EXPECT_EQ(state_.decryptState, c.decryptState);
  if (c.also) c.also(state_);
}

const Outcome kOutcomes[] = {
    {"CipherAltered", {}, [](DerNode& t) { Flip(t.At("cipher")); }, 1007, "密文被修改", -1,
     [](const PolicyState& s) {
       EXPECT_EQ(s.s3SignResult, 1007);
       EXPECT_EQ(s.s2SignResult, 0);
     }},
    {"SnapshotAltered", {}, [](DerNode& t) { Flip(t.At("snapshot")); }, 1008, "截圖被修改", 0,
     [](const PolicyState& s) { EXPECT_EQ(s.s3SignResult, 1008); }},
    {"SnapshotDigestShort", {},
     [](DerNode& t) {
       writer::Bytes digest = writer::BitStringValue(t.At("snapshotDigest"));
       digest.pop_back();
       writer::SetBitStringValue(t.At("snapshotDigest"), digest);
       writer::Resign(t, test::SharedPackageSpec());
     },
     1008, "截圖被修改", 0, {}},
    {"SnapshotDigestWithExtraBytes", {},
     [](DerNode& t) {
       writer::Bytes digest = writer::BitStringValue(t.At("snapshotDigest"));
       digest.push_back(0xEE);
       writer::SetBitStringValue(t.At("snapshotDigest"), digest);
       writer::Resign(t, test::SharedPackageSpec());
     },
     0, "", 0, {}},
    {"S2SignatureBad", {}, [](DerNode& t) { Flip(t.At("s2Signature")); }, 1006, "簽章有問題", -1,
     [](const PolicyState& s) { EXPECT_NE(s.s2SignResult, 0); }},
    {"S3SignatureBad", {}, [](DerNode& t) { Flip(t.At("s3Signature")); }, 1005, "簽章有問題", 0,
     [](const PolicyState& s) { EXPECT_NE(s.s3SignResult, 0); }},
    {"S1SignatureBad", {},
     [](DerNode& t) {
       Flip(t.At("s1Signature"));
       writer::Resign(t, test::SharedPackageSpec());
     },
     1009, "簽章有問題", 0, [](const PolicyState& s) { EXPECT_NE(s.s1SignResult, 0); }},
    {"ExpiredSigner",
     [](writer::PackageSpec& s) {
       s.s1.signer = ExpiredInsurer();
       s.s2.signer = s.s1.signer;
     },
     {}, 0, "", 0,
     [](const PolicyState& s) {
       EXPECT_EQ(s.s1CertResult, 0);
       EXPECT_EQ(s.s2CertResult, 0);
     }},
    {"SignerFromAnotherPki",
     [](writer::PackageSpec& s) {
       writer::CertificateSpec self;
       self.subject = "CN=Somebody Else,C=TW";
       self.notBefore = writer::CertTimeText(std::time(nullptr) - 86400);
       self.notAfter = writer::CertTimeText(std::time(nullptr) + 86400 * 30);
       s.s3.signer = writer::IssueCertificate(self, test::SharedPki().authority.key,
                                              &test::SharedPki().authority);
     },
     {}, 1016, "憑證驗證不合格", 0,
     [](const PolicyState& s) {
       EXPECT_NE(s.s3CertResult, 0);
       EXPECT_EQ(s.s3SignResult, 0);
     }},
    // A genuine insurer's key under the trusted root is still not the
    // authority: its s3 certifies nothing.
    {"InsurerSignsS3",
     [](writer::PackageSpec& s) { s.s3.signer = test::SharedPki().insurer; },
     {}, 1016, "憑證驗證不合格", 0,
     [](const PolicyState& s) {
       EXPECT_EQ(s.s3CertResult, 8);
       EXPECT_EQ(s.s3SignResult, 0);
       EXPECT_EQ(s.s2CertResult, 0);
     }},
    {"NotForThisPlatform", [](writer::PackageSpec& s) { s.versionInfo.win.support = 0; }, {},
     1001, "", -1,
     [](const PolicyState& s) {
       EXPECT_EQ(s.memo, test::SharedPackageSpec().versionInfo.memo);
       EXPECT_EQ(s.tpkTrustSealPath, "") << "no seal file before the password";
     }},
    {"Malformed", {}, [](DerNode& t) { t.At("cipher").tag = 0x04; }, 1004,
     "電子保單資料格式錯誤", -1, [](const PolicyState& s) { EXPECT_EQ(s.parseResult, 22); }},
    // Signatures over a short tpk_plaintext or signed region that verify,
    // with what lies after the declared end changed afterwards.
    {"MemoOutsideS3Extent", {},
     [](DerNode& t) {
       t.At("memo").content = writer::ToBytes(kForgedMemo);
       SetSignature(t, "s3Signature", test::SharedPackageSpec().s3,
                    DeclareOnlyFirstChild(t, "tpk_plaintext"));
     },
     1004, "電子保單資料格式錯誤", -1,
     [](const PolicyState& s) {
       EXPECT_EQ(s.parseResult, 29);
       EXPECT_NE(s.memo, kForgedMemo);
     }},
    {"DigestsOutsideS2Extent", {},
     [](DerNode& t) {
       Flip(t.At("snapshot"));
       writer::RefreshDigests(t);
       const writer::PackageSpec& spec = test::SharedPackageSpec();
       SetSignature(t, "s2Signature", spec.s2, DeclareOnlyFirstChild(t, "signedRegion"));
       SetSignature(t, "s3Signature", spec.s3, writer::Serialize(t.At("tpk_plaintext")));
     },
     1004, "電子保單資料格式錯誤", -1,
     [](const PolicyState& s) { EXPECT_EQ(s.parseResult, 29); }},
};

INSTANTIATE_TEST_SUITE_P(Outcomes, OpenPolicyOutcomeTest, testing::ValuesIn(kOutcomes),
                         [](const testing::TestParamInfo<Outcome>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(OpenPolicyTest, WrongPasswordIsADecryptionFailure) {
  window_.password = "not-the-password";
  const int32_t status = Open(test::SharedPackageSpec());
  // The padding and marker checks decide; any of their codes means a wrong
  // password to the page.
  EXPECT_TRUE(status == 2004 || status == 2005 || status == 2006) << status;
  EXPECT_EQ(state_.statusText, "解密驗證錯誤");
  EXPECT_EQ(state_.decryptState, -1);
  EXPECT_EQ(state_.s1SignResult, -1);
  EXPECT_EQ(state_.s2SignResult, 0);
}

TEST_F(OpenPolicyTest, NotForThisPlatformSaysSoBeforeAnyPassword) {
  writer::PackageSpec spec = test::SharedPackageSpec();
  spec.versionInfo.win.support = 0;
  EXPECT_EQ(Open(spec), 1001);
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].caption, "資訊");
  EXPECT_EQ(window_.messages[0].text, "此檔案不支援在windows平台開啟");
  EXPECT_TRUE(window_.passwordRequests.empty());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "work" / "TTS"));
}

TEST_F(OpenPolicyTest, CancelledPasswordStops) {
  window_.password.reset();
  EXPECT_EQ(Open(test::SharedPackageSpec()), 1002);
  EXPECT_EQ(state_.statusText, "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "work" / "TTS"));
}

TEST_F(OpenPolicyTest, UnreadableFile) {
  EXPECT_EQ(OpenPolicy(state_, dir_ / "missing.tpk"), 1003);
  EXPECT_EQ(state_.statusText, "讀取電子保單資料錯誤");
  EXPECT_EQ(state_.parseResult, -1);
}

TEST_F(OpenPolicyTest, EarlierDocumentStaysButIsNoLongerCurrent) {
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  ASSERT_EQ(Open(spec), 0);
  window_.password.reset();
  EXPECT_EQ(Open(spec), 1002);
  EXPECT_EQ(state_.decryptState, -1);
  EXPECT_EQ(static_cast<size_t>(state_.pdfLength), spec.document.size());
}

TEST_F(OpenPolicyTest, UpdateIsOfferedOnlyForANewerVersionText) {
  const struct {
    const char* version;
    bool offered;
  } rows[] = {{"1.2.9.0", true}, {"1.3", true}, {"1.2.8.0.1", true},
              {"1.2.10.0", false}, {"1.2.8.0", false}, {"", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.version);
    window_.messages.clear();
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.versionInfo.win.version = row.version;
    EXPECT_EQ(Open(spec), 0) << "declining the offer opens the package as usual";
    const bool asked = !window_.messages.empty() && window_.messages[0].caption == "更新資訊";
    EXPECT_EQ(asked, row.offered);
  }
}

// The offer fetches a file from the address the package names: only an s3
// of the authority's, under an anchor, may lead to it.
TEST_F(OpenPolicyTest, UncertifiedPackageNeverOffersAnUpdate) {
  const struct {
    const char* name;
    std::function<void(writer::PackageSpec&)> spec;
    std::function<void(DerNode&)> change;
    bool trusted;
    int32_t status;
  } rows[] = {
      {"s3 signature bad", {}, [](DerNode& t) { Flip(t.At("s3Signature")); }, true, 1005},
      {"insurer signs s3", [](writer::PackageSpec& s) { s.s3.signer = test::SharedPki().insurer; },
       {}, true, 1016},
      {"no trust configured", {}, {}, false, 1016},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    window_.messages.clear();
    state_.trust = row.trusted ? test::SharedTrust() : nullptr;
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.versionInfo.win.version = "9.9.9.9";
    if (row.spec) row.spec(spec);
    EXPECT_EQ(Open(spec, row.change), row.status);
    for (const auto& message : window_.messages) EXPECT_NE(message.caption, "更新資訊");
    EXPECT_TRUE(window_.opened.empty());
  }
}

TEST(FormatLocalTime, ConvertsToTheMachinesZone) {
  ASSERT_EQ(setenv("TZ", "UTC-8", 1), 0);
  tzset();
  test::RecordingOwnerWindow window;
  EXPECT_EQ(FormatLocalTime({2026, 12, 31, 20, 5, 9}, &window), "2027/01/01 04:05:09");
  EXPECT_EQ(FormatLocalTime({2000, 2, 29, 0, 0, 0}, &window), "2000/02/29 08:00:00");
  EXPECT_TRUE(window.messages.empty());

  EXPECT_EQ(FormatLocalTime({2026, 2, 30, 0, 0, 0}, &window), "");
  EXPECT_EQ(FormatLocalTime({2026, 13, 1, 0, 0, 0}, &window), "");
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.messages[0].caption, "時區轉換錯誤");
  EXPECT_FALSE(window.messages[0].owned);
  unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace qalv
