#include "ui/render_policy.h"

#include <QUrl>
#include <algorithm>
#include <array>
#include <filesystem>
#include <new>
#include <string>

#include <mbedtls/base64.h>

#include "platform/secure_buffer.h"
#include "verify/open_policy.h"

namespace qalv {
namespace {

constexpr char kFoldedMarker[] = "res:/WEB/#139";
constexpr char kUnverifiable[] = "無法驗證";

struct Row {
  QString text;
  QString colour;
};

Row Judge(int32_t result, const char* passed, const char* failed) {
  if (result == 0) return {QString::fromUtf8(passed), QStringLiteral("Black")};
  if (result == -1) return {QString::fromUtf8(kUnverifiable), QStringLiteral("Red")};
  return {QString::fromUtf8(failed), QStringLiteral("Red")};
}

Row Title(bool passes, const QString& subject) {
  return passes ? Row{subject + QString::fromUtf8("正確"), QStringLiteral("Black")}
                : Row{subject + QString::fromUtf8("有問題"), QStringLiteral("Red")};
}

// One foldable group of the tree: "s1" (policy content), "s2" (policy
// package), "s3" (certification authority).
struct Group {
  QString prefix;
  Row title;
  Row sign;
  Row cert;
  QString signTime;
};

Group MakeGroup(const char* prefix, int32_t signResult, int32_t certResult, const QString& subject,
                const std::string& signTime) {
  return {QString::fromLatin1(prefix), Title(signResult == 0 && certResult == 0, subject),
          Judge(signResult, "簽章正確", "簽章有問題"), Judge(certResult, "憑證合格", "憑證不合格"),
          QString::fromUtf8("簽章時間：") + QString::fromStdString(signTime)};
}

void ResetPage(ReaderContext& reader) {
  ElementWriter& page = reader.page;
  page.SetElementInnerHtml("status", "");
  page.SetElementStyle("preview", "display", "none");
  for (const char* image : {"snapshot", "ipkseal", "tpkseal"}) {
    page.SetElementAttribute(image, "src", "");
  }
  for (const char* mark : {"ipksealMark", "tpksealMark"}) {
    page.SetElementAttribute(mark, "data-verdict", "");
  }
  reader.policy.decryptState = -1;
  page.SetElementStyle("verifyResult", "display", "none");
  for (const char* node : {"node1", "node2", "node3"}) {
    page.SetElementStyle(QString::fromLatin1(node) + "_region", "display", "none");
    page.SetElementAttribute(QString::fromLatin1(node) + "_image", "src", kFoldedMarker);
  }
  for (const char* section : {"versionInfo", "onlineVerify", "onlineStatus"}) {
    page.SetElementStyle(section, "display", "none");
  }
}

void WriteStatusLine(ElementWriter& page, int32_t statusCode, const PolicyState& policy) {
  const QString account = QString::fromStdString(policy.accountName);
  const QString reason = QString::fromStdString(policy.statusText);
  Row line;
  if (statusCode == 0) {
    line = {QString::fromUtf8("本保單已通過") + account +
                QString::fromUtf8("及QALV第三方認證，內容未經修改。"),
            QStringLiteral("Black")};
  } else if (statusCode > 2000) {
    line = {QString::fromUtf8("本保單解密密碼有誤，") + reason + QString::fromUtf8("。"),
            QStringLiteral("Maroon")};
  } else {
    line = {QString::fromUtf8("本保單驗證有誤，") + reason +
                QString::fromUtf8("，保單內容可能被修改或損毀，請洽") + account,
            QStringLiteral("Maroon")};
  }
  page.SetElementStyle("status", "color", line.colour);
  page.SetElementInnerHtml("status", line.text);
}

void WriteTree(ElementWriter& page, const PolicyState& policy) {
  const QString account = QString::fromStdString(policy.accountName);
  const std::array<Group, 3> groups = {
      MakeGroup("s1", policy.s1SignResult, policy.s1CertResult,
                account + QString::fromUtf8("保單內容電子簽章 "), policy.ipkSignTime),
      MakeGroup("s2", policy.s2SignResult, policy.s2CertResult,
                account + QString::fromUtf8("保單封包電子簽章 "), policy.ipkSignTime),
      MakeGroup("s3", policy.s3SignResult, policy.s3CertResult,
                QString::fromUtf8("QALV第三方認證電子簽章 "), policy.tpkSignTime)};
  for (const Group& g : groups) page.SetElementStyle(g.prefix + "Sign", "color", g.sign.colour);
  for (const Group& g : groups) page.SetElementStyle(g.prefix + "Cert", "color", g.cert.colour);
  for (const Group& g : groups) page.SetElementStyle(g.prefix + "Title", "color", g.title.colour);
  for (const Group& g : groups) {
    page.SetElementInnerHtml(g.prefix + "Title", g.title.text);
    page.SetElementInnerHtml(g.prefix + "Sign", g.sign.text);
    page.SetElementInnerHtml(g.prefix + "Cert", g.cert.text);
    page.SetElementInnerHtml(g.prefix + "SignTime", g.signTime);
  }
  page.SetElementStyle("verifyResult", "display", "");
}

void WriteMemo(ElementWriter& page, PolicyState& policy) {
  const QString memo = QString::fromStdString(policy.memo).trimmed();
  policy.memo = memo.toStdString();
  if (memo.isEmpty()) return;
  page.SetElementInnerHtml("memo", memo);
  page.SetElementStyle("versionInfo", "display", "");
}

// A file URL that changes with every render: the work folder's pictures keep
// their names from one package to the next, and the page must not show a
// cached picture of an earlier one.
QString ImageSource(const std::string& path, quint64 render) {
  if (path.empty()) return {};
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
  url.setQuery(QStringLiteral("n=%1").arg(render));
  return url.toString();
}

void WritePreview(ElementWriter& page, const PolicyState& policy) {
  static quint64 renders = 0;
  ++renders;
  const bool insurerTrusted = policy.s1SignResult == 0 && policy.s2SignResult == 0 &&
                              policy.s1CertResult == 0 && policy.s2CertResult == 0;
  const bool authorityTrusted = policy.s3SignResult == 0 && policy.s3CertResult == 0;
  page.SetElementStyle("preview", "display", "");
  page.SetElementAttribute("snapshot", "src", ImageSource(policy.snapshotPath, renders));
  page.SetElementAttribute(
      "ipkseal", "src",
      ImageSource(insurerTrusted ? policy.ipkTrustSealPath : policy.ipkMistrustSealPath, renders));
  page.SetElementAttribute(
      "tpkseal", "src",
      ImageSource(authorityTrusted ? policy.tpkTrustSealPath : policy.tpkMistrustSealPath,
                  renders));
  // Drawn by the page from our verdict, so a package cannot dress a mistrust
  // picture up as a trusted seal.
  page.SetElementAttribute("ipksealMark", "data-verdict", insurerTrusted ? "pass" : "fail");
  page.SetElementAttribute("tpksealMark", "data-verdict", authorityTrusted ? "pass" : "fail");
}

// Replaces the text, first wiping the old one when nothing else shares it, so
// a previous document's Base64 does not go back to the heap readable.
void ReplaceWiped(QString& target, QString text) {
  if (target.isDetached()) std::fill(target.begin(), target.end(), QChar());
  target = std::move(text);
}

// The Base64 text of the document; false when memory runs out.
bool EncodeDocument(const PolicyState& policy, QString& text) {
  // Never past the buffer, whatever the length field says.
  const size_t length =
      std::min(static_cast<size_t>(std::max(policy.pdfLength, 0)), policy.pdfData.size());
  SecureBuffer encoded;
  if (!encoded.Allocate((length + 2) / 3 * 4 + 1)) return false;
  size_t written = 0;
  if (mbedtls_base64_encode(encoded.data(), encoded.size(), &written, policy.pdfData.data(),
                            length) != 0) {
    return false;
  }
  try {
    text = QString::fromLatin1(reinterpret_cast<const char*>(encoded.data()),
                               static_cast<qsizetype>(written));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

void RenderPolicy(ReaderContext& reader) {
  ResetPage(reader);
  PolicyState& policy = reader.policy;
  const QString path = reader.policyPath;
  const int32_t statusCode = OpenPolicy(policy, std::filesystem::path(path.toStdString()));
  if (statusCode == status::kNotForThisPlatform || statusCode == status::kPasswordCancelled) {
    reader.policyPath.clear();
    return;
  }
  reader.recent.Add(path);
  WriteStatusLine(reader.page, statusCode, policy);
  if (policy.parseResult == 0) {
    WriteTree(reader.page, policy);
    WriteMemo(reader.page, policy);
  }
  if (policy.decryptState != 0) return;
  WritePreview(reader.page, policy);

  QString text;
  if (!EncodeDocument(policy, text)) {
    // The previous document's text must not stand in for this one.
    ReplaceWiped(reader.b64Data, QString());
    policy.ownerWindow->ShowMessage(
        {"錯誤", "配置保單記憶體錯誤", OwnerWindow::Icon::kError, OwnerWindow::Buttons::kOk});
    return;
  }
  ReplaceWiped(reader.b64Data, std::move(text));
  reader.dataPin.clear();
}

}  // namespace qalv
