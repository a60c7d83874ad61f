// What the page shows after an opening of writer-made packages: the reset,
// the status line, the verification tree, the memo, the preview with its
// seals and verdict marks, the document's Base64 copy and the recent list.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QUrl>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/gui/support/reader_fixture.h"
#include "ui/render_policy.h"
#include "writer/der_writer.h"

namespace qalv {
namespace {

using test::Attribute;
using test::Html;
using test::PageWrite;
using test::Style;
using test::Text;
using writer::DerNode;

const QString kAccount = QString::fromStdString(test::SharedPackageSpec().versionInfo.accountName);

// The writes that clear the page before every opening, in their order.
std::vector<PageWrite> ResetWrites() {
  return {Text("statusLead", ""),
          Html("statusIssuer", ""),
          Text("statusTail", ""),
          Style("preview", "display", "none"),
          Attribute("snapshot", "src", ""),
          Attribute("ipkseal", "src", ""),
          Attribute("tpkseal", "src", ""),
          Attribute("ipksealMark", "data-verdict", ""),
          Attribute("tpksealMark", "data-verdict", ""),
          Style("verifyResult", "display", "none"),
          Style("node1_region", "display", "none"),
          Attribute("node1_image", "src", "res:/WEB/#139"),
          Style("node2_region", "display", "none"),
          Attribute("node2_image", "src", "res:/WEB/#139"),
          Style("node3_region", "display", "none"),
          Attribute("node3_image", "src", "res:/WEB/#139"),
          Style("versionInfo", "display", "none"),
          Style("onlineVerify", "display", "none"),
          Style("onlineStatus", "display", "none")};
}

void Flip(DerNode& node) {
  writer::Bytes value = writer::BitStringValue(node);
  value[value.size() / 2] ^= 0x01;
  writer::SetBitStringValue(node, value);
}

class RenderPolicyTest : public test::ReaderFixture {
 protected:
  // Opens the package made from `spec` (changed by `change`) at `name`.
  void Render(const writer::PackageSpec& spec, const std::function<void(DerNode&)>& change = {},
              const std::string& name = "p.tpk") {
    DerNode tree = writer::BuildPackageTree(spec);
    if (change) change(tree);
    policyPath = Write(name, writer::Serialize(tree));
    page.writes.clear();
    RenderPolicy(reader);
  }

  // What the element shows: its last content; for the status line and the
  // two titles that name the insurer, their parts joined.
  QString Text(const char* id) const {
    static const std::map<std::string, std::vector<const char*>> kParts = {
        {"status", {"statusLead", "statusIssuer", "statusTail"}},
        {"s1Title", {"s1Issuer", "s1Verdict"}},
        {"s2Title", {"s2Issuer", "s2Verdict"}}};
    const auto parts = kParts.find(id);
    if (parts == kParts.end()) return page.LastContent(id).value_or("<never written>");
    QString shown;
    for (const char* part : parts->second) shown += page.LastContent(part).value_or("<never written>");
    return shown;
  }
  QString Colour(const char* id) const {
    return page.LastStyle(id, "color").value_or("<never written>");
  }
  QString Display(const char* id) const {
    return page.LastStyle(id, "display").value_or("<never written>");
  }
  QString Source(const char* id) const {
    return page.LastAttribute(id, "src").value_or("<never written>");
  }
  QString Verdict(const char* id) const {
    return page.LastAttribute(id, "data-verdict").value_or("<never written>");
  }

  // The image source names the work folder's file `path` under the page's
  // own scheme with a render counter, and the file holds `bytes`.
  void ExpectPicture(const char* id, const std::string& path, const writer::Bytes& bytes) {
    SCOPED_TRACE(id);
    const QRegularExpressionMatch source =
        QRegularExpression("^res:/WORK/([A-Z]{3})\\?n=\\d+$").match(Source(id));
    ASSERT_TRUE(source.hasMatch()) << Source(id).toStdString();
    EXPECT_EQ(Work() / source.captured(1).toStdString(), std::filesystem::path(path));
    EXPECT_EQ(test::ReadFile(path), bytes);
  }
};

TEST_F(RenderPolicyTest, GenuinePackageShowsEverything) {
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  dataPin = "left by the page";
  Render(spec);

  EXPECT_EQ(Colour("status"), "Black");
  EXPECT_EQ(Text("status"), "本保單已通過" + kAccount + "及QALV第三方認證，內容未經修改。");

  const struct {
    const char* id;
    QString text;
  } rows[] = {{"s1Title", kAccount + "保單內容電子簽章 正確"},
              {"s2Title", kAccount + "保單封包電子簽章 正確"},
              {"s3Title", "QALV第三方認證電子簽章 正確"},
              {"s1Sign", "簽章正確"},
              {"s2Sign", "簽章正確"},
              {"s3Sign", "簽章正確"},
              {"s1Cert", "憑證合格"},
              {"s2Cert", "憑證合格"},
              {"s3Cert", "憑證合格"}};
  for (const auto& row : rows) {
    EXPECT_EQ(Text(row.id), row.text) << row.id;
    EXPECT_EQ(Colour(row.id), "Black") << row.id;
  }
  ASSERT_FALSE(policy.ipkSignTime.empty());
  ASSERT_FALSE(policy.tpkSignTime.empty());
  const QString ipkTime = "簽章時間：" + QString::fromStdString(policy.ipkSignTime);
  EXPECT_EQ(Text("s1SignTime"), ipkTime);
  EXPECT_EQ(Text("s2SignTime"), ipkTime);
  EXPECT_EQ(Text("s3SignTime"), "簽章時間：" + QString::fromStdString(policy.tpkSignTime));
  for (const char* id : {"s1SignTime", "s2SignTime", "s3SignTime"}) {
    EXPECT_FALSE(page.LastStyle(id, "color")) << id;
  }
  EXPECT_EQ(Display("verifyResult"), "");
  for (const char* region : {"node1_region", "node2_region", "node3_region"}) {
    EXPECT_EQ(Display(region), "none") << "the regions stay folded";
  }

  EXPECT_EQ(Text("memo"), QString::fromStdString(spec.versionInfo.memo));
  EXPECT_EQ(Display("versionInfo"), "");

  EXPECT_EQ(Display("preview"), "");
  ExpectPicture("snapshot", policy.snapshotPath, spec.snapshot);
  ExpectPicture("ipkseal", policy.ipkTrustSealPath, spec.versionInfo.ipkTrustSeal);
  ExpectPicture("tpkseal", policy.tpkTrustSealPath, spec.versionInfo.tpkTrustSeal);
  EXPECT_EQ(Verdict("ipksealMark"), "pass");
  EXPECT_EQ(Verdict("tpksealMark"), "pass");

  const test::Bytes encoded = test::OpenSsl("base64 -A", spec.document);
  std::string base64(encoded.begin(), encoded.end());
  while (!base64.empty() && base64.back() == '\n') base64.pop_back();
  EXPECT_EQ(b64Data.toStdString(), base64);
  EXPECT_EQ(dataPin, "");

  EXPECT_EQ(recent.Slot(0), policyPath);
  EXPECT_TRUE(window.messages.empty());
}

// The writes of one whole opening, in the order the page receives them.
TEST_F(RenderPolicyTest, WritesInTheirOrder) {
  Render(test::SharedPackageSpec());
  std::vector<PageWrite> expected = ResetWrites();
  const std::vector<PageWrite> rest = {Style("status", "color", "Black"),
                                       test::Text("statusLead", "本保單已通過"),
                                       Html("statusIssuer", kAccount),
                                       test::Text("statusTail", "*"),
                                       Style("s1Sign", "color", "Black"),
                                       Style("s2Sign", "color", "Black"),
                                       Style("s3Sign", "color", "Black"),
                                       Style("s1Cert", "color", "Black"),
                                       Style("s2Cert", "color", "Black"),
                                       Style("s3Cert", "color", "Black"),
                                       Style("s1Title", "color", "Black"),
                                       Style("s2Title", "color", "Black"),
                                       Style("s3Title", "color", "Black"),
                                       Html("s1Issuer", kAccount),
                                       test::Text("s1Verdict", "*"),
                                       test::Text("s1Sign", "*"),
                                       test::Text("s1Cert", "*"),
                                       test::Text("s1SignTime", "*"),
                                       Html("s2Issuer", kAccount),
                                       test::Text("s2Verdict", "*"),
                                       test::Text("s2Sign", "*"),
                                       test::Text("s2Cert", "*"),
                                       test::Text("s2SignTime", "*"),
                                       test::Text("s3Title", "*"),
                                       test::Text("s3Sign", "*"),
                                       test::Text("s3Cert", "*"),
                                       test::Text("s3SignTime", "*"),
                                       Style("verifyResult", "display", ""),
                                       Html("memo", "*"),
                                       Style("versionInfo", "display", ""),
                                       Style("preview", "display", ""),
                                       Attribute("snapshot", "src", "*"),
                                       Attribute("ipkseal", "src", "*"),
                                       Attribute("tpkseal", "src", "*"),
                                       Attribute("ipksealMark", "data-verdict", "pass"),
                                       Attribute("tpksealMark", "data-verdict", "pass")};
  expected.insert(expected.end(), rest.begin(), rest.end());

  ASSERT_EQ(page.writes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const PageWrite& got = page.writes[i];
    const PageWrite& want = expected[i];
    EXPECT_TRUE(got.op == want.op && got.id == want.id && got.name == want.name &&
                (want.value == "*" || got.value == want.value))
        << "write " << i << ": " << got << ", expected " << want;
  }
}

TEST_F(RenderPolicyTest, EveryRenderNamesThePicturesAfresh) {
  Render(test::SharedPackageSpec());
  const QString first = Source("snapshot");
  Render(test::SharedPackageSpec());
  EXPECT_NE(Source("snapshot"), first) << "the page would show a cached picture";
  EXPECT_EQ(QUrl(Source("snapshot")).path(), QUrl(first).path());
}

TEST_F(RenderPolicyTest, CancelledOrRefusedOpeningOnlyResets) {
  const struct {
    const char* name;
    std::function<void(writer::PackageSpec&, test::RecordingOwnerWindow&)> prepare;
  } rows[] = {
      {"password cancelled",
       [](writer::PackageSpec&, test::RecordingOwnerWindow& w) { w.password.reset(); }},
      {"not for this platform",
       [](writer::PackageSpec& s, test::RecordingOwnerWindow&) { s.versionInfo.win.support = 0; }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    window.password = test::kPassword;
    Render(test::SharedPackageSpec(), {}, "first.tpk");
    const QString base64 = b64Data;
    ASSERT_FALSE(base64.isEmpty());

    writer::PackageSpec spec = test::SharedPackageSpec();
    row.prepare(spec, window);
    Render(spec, {}, "second.tpk");
    EXPECT_EQ(page.writes, ResetWrites());
    EXPECT_EQ(policyPath, "");
    EXPECT_TRUE(recent.Slot(0).endsWith("first.tpk")) << recent.Slot(0).toStdString();
    EXPECT_EQ(recent.Slot(1), "");
    EXPECT_EQ(b64Data, base64);
    EXPECT_EQ(policy.decryptState, -1);
  }
}

TEST_F(RenderPolicyTest, WrongPasswordShowsTheTreeButNotTheDocument) {
  Render(test::SharedPackageSpec(), {}, "first.tpk");
  const QString base64 = b64Data;
  dataPin = "pin of the first document";

  window.password = "not-the-password";
  Render(test::SharedPackageSpec(), {}, "second.tpk");
  ASSERT_GT(policy.statusCode, 2000);
  EXPECT_EQ(Colour("status"), "Maroon");
  EXPECT_EQ(Text("status"), "本保單解密密碼有誤，解密驗證錯誤。");
  EXPECT_EQ(Display("verifyResult"), "");
  EXPECT_EQ(Text("s1Sign"), "無法驗證");
  EXPECT_EQ(Colour("s1Sign"), "Red");
  EXPECT_EQ(Text("s1Title"), kAccount + "保單內容電子簽章 有問題");
  EXPECT_EQ(Colour("s1Title"), "Red");
  EXPECT_EQ(Text("s2Sign"), "簽章正確");
  EXPECT_EQ(Text("s2Title"), kAccount + "保單封包電子簽章 正確");
  EXPECT_EQ(Display("versionInfo"), "");

  EXPECT_EQ(Display("preview"), "none");
  EXPECT_EQ(Source("ipkseal"), "");
  EXPECT_EQ(Verdict("ipksealMark"), "");
  EXPECT_EQ(b64Data, base64);
  EXPECT_EQ(dataPin, "pin of the first document");
  EXPECT_TRUE(recent.Slot(0).endsWith("second.tpk"));
}

TEST_F(RenderPolicyTest, UnreadableOrMalformedFileShowsOnlyTheStatusLine) {
  const struct {
    const char* name;
    bool earlierPackage;
    const char* content;  // null: no file at all
    QString status;
  } rows[] = {
      {"missing after a package", true, nullptr,
       "本保單驗證有誤，讀取電子保單資料錯誤，保單內容可能被修改或損毀，請洽甲<b>公司</b>"},
      {"garbage after a package", true, "not a policy package",
       "本保單驗證有誤，電子保單資料格式錯誤，保單內容可能被修改或損毀，請洽甲<b>公司</b>"},
      {"missing first", false, nullptr,
       "本保單驗證有誤，讀取電子保單資料錯誤，保單內容可能被修改或損毀，請洽"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    policy.accountName.clear();
    if (row.earlierPackage) {
      writer::PackageSpec spec = test::SharedPackageSpec();
      spec.versionInfo.accountName = "甲<b>公司</b>";
      Render(spec);
      ASSERT_EQ(policy.statusCode, 0);
    }
    const std::string name = std::string(row.name) + ".tpk";
    if (row.content) {
      policyPath = Write(name, std::string(row.content));
    } else {
      policyPath = QString::fromStdString((dir / name).string());
    }
    page.writes.clear();
    RenderPolicy(reader);

    EXPECT_EQ(Colour("status"), "Maroon");
    EXPECT_EQ(Text("status"), row.status);
    EXPECT_EQ(Display("verifyResult"), "none");
    EXPECT_FALSE(page.LastContent("s1Sign")) << "the tree is not written";
    EXPECT_EQ(Display("versionInfo"), "none");
    EXPECT_EQ(Display("preview"), "none");
    EXPECT_EQ(recent.Slot(0), policyPath) << "failed openings are listed too";
  }
}

TEST_F(RenderPolicyTest, MemoIsTrimmedAndShownOnlyWhenNotBlank) {
  const struct {
    std::string memo;
    const char* shown;  // null: hidden
  } rows[] = {
      {" \t本保單<br>僅供測試 \n", "本保單<br>僅供測試"}, {"  \t ", nullptr}, {"", nullptr}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.memo);
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.versionInfo.memo = row.memo;
    Render(spec);
    ASSERT_EQ(policy.statusCode, 0);
    EXPECT_EQ(policy.memo, row.shown ? row.shown : "");
    if (row.shown) {
      EXPECT_EQ(Text("memo"), row.shown);
      EXPECT_EQ(Display("versionInfo"), "");
    } else {
      EXPECT_FALSE(page.LastContent("memo"));
      EXPECT_EQ(Display("versionInfo"), "none");
    }
  }
}

// The seals follow the reader's own verdicts: the insurer's from the four s1
// and s2 results, the authority's from the two s3 results.
TEST_F(RenderPolicyTest, SealsAndMarksFollowTheVerdicts) {
  const writer::VersionInfoSpec& seals = test::SharedPackageSpec().versionInfo;
  struct Row {
    const char* name;
    std::function<void(writer::PackageSpec&)> spec;
    std::function<void(DerNode&)> change;
    const char* failingRow;  // element that must read as failed
    QString failingText;
    bool insurerTrusted;
    bool authorityTrusted;
  };
  const Row rows[] = {
      {"content signature forged",
       {},
       [](DerNode& t) {
         Flip(t.At("s1Signature"));
         writer::Resign(t, test::SharedPackageSpec());
       },
       "s1Sign",
       "簽章有問題",
       false,
       true},
      {"authority certificate from a rogue issuer",
       [](writer::PackageSpec& s) {
         writer::CertificateSpec spec;
         spec.subject = "CN=QALV Test Certification Authority,O=QALV Test,C=TW";
         spec.notBefore = writer::CertTimeText(std::time(nullptr) - 86400);
         spec.notAfter = writer::CertTimeText(std::time(nullptr) + 86400 * 30);
         const writer::Identity rogue{
             test::SharedPki().insurer.key, "CN=QALV Test Intermediate CA,O=QALV Test,C=TW", {}};
         s.s3.signer = writer::IssueCertificate(spec, test::SharedPki().authority.key, &rogue);
       },
       {},
       "s3Cert",
       "憑證不合格",
       true,
       false},
  };
  // A chain under the rogue key's identifier that leads to the root is on
  // file (the key certified under another name), so the check runs and
  // fails: nothing in the chain named like the issuer verifies the signature.
  const writer::TestPki& pki = test::SharedPki();
  writer::CertificateSpec rogueCa;
  rogueCa.subject = "CN=QALV Test Rogue CA,O=QALV Test,C=TW";
  rogueCa.isCa = true;
  rogueCa.notBefore = writer::CertTimeText(std::time(nullptr) - 86400);
  rogueCa.notAfter = writer::CertTimeText(std::time(nullptr) + 86400 * 30);
  const writer::Identity rogueIssuer = writer::IssueCertificate(rogueCa, pki.insurer.key, &pki.root);
  test::StoreSealedChain(Work(), *pki.insurer.key,
                         writer::ChainFile({pki.root.certificate, pki.intermediate.certificate,
                                            rogueIssuer.certificate}));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writer::PackageSpec spec = test::SharedPackageSpec();
    if (row.spec) row.spec(spec);
    Render(spec, row.change);
    ASSERT_EQ(policy.decryptState, 0);
    EXPECT_EQ(Text(row.failingRow), row.failingText);
    EXPECT_EQ(Colour(row.failingRow), "Red");
    EXPECT_EQ(Colour(row.insurerTrusted ? "s3Title" : "s1Title"), "Red");
    EXPECT_EQ(Colour("status"), "Maroon");
    if (row.insurerTrusted) {
      ExpectPicture("ipkseal", policy.ipkTrustSealPath, seals.ipkTrustSeal);
    } else {
      ExpectPicture("ipkseal", policy.ipkMistrustSealPath, seals.ipkMistrustSeal);
    }
    if (row.authorityTrusted) {
      ExpectPicture("tpkseal", policy.tpkTrustSealPath, seals.tpkTrustSeal);
    } else {
      ExpectPicture("tpkseal", policy.tpkMistrustSealPath, seals.tpkMistrustSeal);
    }
    EXPECT_EQ(Verdict("ipksealMark"), row.insurerTrusted ? "pass" : "fail");
    EXPECT_EQ(Verdict("tpksealMark"), row.authorityTrusted ? "pass" : "fail");
  }
}

TEST_F(RenderPolicyTest, PackageSignatureForgedShowsNoSealAtAll) {
  Render(test::SharedPackageSpec(), [](DerNode& t) { Flip(t.At("s2Signature")); });
  EXPECT_EQ(Text("status"),
            "本保單驗證有誤，簽章有問題，保單內容可能被修改或損毀，請洽" + kAccount);
  EXPECT_EQ(Text("s2Sign"), "簽章有問題");
  EXPECT_EQ(Text("s1Sign"), "無法驗證") << "the document was never decrypted";
  EXPECT_EQ(Display("preview"), "none");
  EXPECT_EQ(Source("ipkseal"), "");
  EXPECT_EQ(Verdict("ipksealMark"), "");
  EXPECT_EQ(b64Data, "");
}

// Lengths that end on each Base64 padding case.
TEST_F(RenderPolicyTest, Base64CopyIsTheWholeDocument) {
  for (size_t length : {1u, 2u, 3u, 4u, 70000u}) {
    SCOPED_TRACE(length);
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.document.resize(length);
    for (size_t i = 0; i < length; ++i) spec.document[i] = static_cast<uint8_t>(i * 7 + 3);
    Render(spec);
    ASSERT_EQ(policy.decryptState, 0);
    const QByteArray decoded =
        QByteArray::fromBase64(b64Data.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    EXPECT_EQ(decoded, QByteArray(reinterpret_cast<const char*>(spec.document.data()),
                                  static_cast<qsizetype>(length)));
    EXPECT_EQ(b64Data.size(), static_cast<qsizetype>((length + 2) / 3 * 4));
  }
}

// Caps the address space at what the process maps now plus `headRoom`.
bool CapAddressSpace(size_t headRoom) {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return false;
  unsigned long pages = 0;
  const bool read = std::fscanf(statm, "%lu", &pages) == 1;
  std::fclose(statm);
  const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + headRoom;
  const rlimit cap{limit, limit};
  return read && setrlimit(RLIMIT_AS, &cap) == 0;
}

// Runs out of memory right after the preview is written, when only the
// Base64 copy is left to make.
class CappingPage : public test::RecordingPage {
 public:
  explicit CappingPage(size_t headRoom) : headRoom_(headRoom) {}
  void SetElementAttribute(const QString& id, const QString& name, const QString& value) override {
    RecordingPage::SetElementAttribute(id, name, value);
    if (id == "tpksealMark" && !value.isEmpty() && !CapAddressSpace(headRoom_)) std::_Exit(2);
  }

 private:
  size_t headRoom_;
};

// With a 4 MiB document the Base64 bytes take 6 MiB (in 2 MiB blocks) and the
// text another 11 MiB: one cap leaves no room for the bytes, the other none
// for the text.
TEST_F(RenderPolicyTest, NoMemoryForTheBase64CopyIsReported) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any cap allows";
#endif
  // Large blocks mapped afresh and unmapped when freed from here on, so that
  // no freed block in the heap can serve the copy under the cap.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  writer::PackageSpec spec = test::SharedPackageSpec();
  spec.document.assign(4u << 20, 0x5A);
  policyPath = WritePackage("large.tpk", spec);

  for (size_t headRoom : {size_t{1} << 20, size_t{12} << 20}) {
    SCOPED_TRACE(headRoom);
    b64Data = "an earlier document";
    const auto renderUnderCap = [&] {
      CappingPage cappingPage(headRoom);
      ReaderContext capped{cappingPage, policy,  recent,        policyPath,
                           b64Data,     dataPin, reader.workDir};
      RenderPolicy(capped);
      const bool told = window.messages.size() == 1 && window.messages[0].caption == "錯誤" &&
                        window.messages[0].text == "配置保單記憶體錯誤";
      const bool opened =
          policy.decryptState == 0 && cappingPage.LastStyle("preview", "display") == "";
      return told && opened && b64Data.isEmpty() ? 0 : 1;
    };
    EXPECT_EXIT(std::_Exit(renderUnderCap()), testing::ExitedWithCode(0), "");
  }
}

}  // namespace
}  // namespace qalv
