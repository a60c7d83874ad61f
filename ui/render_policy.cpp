#include "ui/render_policy.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <new>
#include <optional>
#include <string>

#include "opening/open_policy.h"
#include "ui/wiped_text.h"

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

// One foldable group of the tree: "s1" (policy content), "s2" (policy
// package), "s3" (certification authority). The first two name the insurer
// in front of their title, in a box of its own.
struct Group {
  QString prefix;
  bool namesInsurer;
  Row title;
  Row sign;
  Row cert;
  QString signTime;
};

Group MakeGroup(const char* prefix, bool namesInsurer, int32_t signResult, int32_t certResult,
                const char* subject, const std::string& signTime) {
  const bool passes = signResult == 0 && certResult == 0;
  return {QString::fromLatin1(prefix),
          namesInsurer,
          passes ? Row{QString::fromUtf8(subject) + QString::fromUtf8("正確"), QStringLiteral("Black")}
                 : Row{QString::fromUtf8(subject) + QString::fromUtf8("有問題"), QStringLiteral("Red")},
          Judge(signResult, "簽章正確", "簽章有問題"),
          Judge(certResult, "憑證合格", "憑證不合格"),
          QString::fromUtf8("簽章時間：") + QString::fromStdString(signTime)};
}

// The status line is three parts: the reader's words around the insurer's
// name, which sits in a box of its own.
void WriteStatus(ElementWriter& page, const QString& lead, const QString& insurer, const QString& tail) {
  page.SetElementText("statusLead", lead);
  page.SetElementInnerHtml("statusIssuer", insurer);
  page.SetElementText("statusTail", tail);
}

void ResetPage(ReaderContext& reader) {
  ElementWriter& page = reader.page;
  WriteStatus(page, {}, {}, {});
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
  if (statusCode == 0) {
    page.SetElementStyle("status", "color", "Black");
    WriteStatus(page, QString::fromUtf8("本保單已通過"), account,
                QString::fromUtf8("及QALV第三方認證，內容未經修改。"));
  } else if (statusCode > 2000) {
    page.SetElementStyle("status", "color", "Maroon");
    WriteStatus(page, QString::fromUtf8("本保單解密密碼有誤，") + reason + QString::fromUtf8("。"), {}, {});
  } else {
    page.SetElementStyle("status", "color", "Maroon");
    WriteStatus(page,
                QString::fromUtf8("本保單驗證有誤，") + reason +
                    QString::fromUtf8("，保單內容可能被修改或損毀，請洽"),
                account, {});
  }
}

void WriteTree(ElementWriter& page, const PolicyState& policy) {
  const QString account = QString::fromStdString(policy.accountName);
  const std::array<Group, 3> groups = {
      MakeGroup("s1", true, policy.s1SignResult, policy.s1CertResult, "保單內容電子簽章 ",
                policy.ipkSignTime),
      MakeGroup("s2", true, policy.s2SignResult, policy.s2CertResult, "保單封包電子簽章 ",
                policy.ipkSignTime),
      MakeGroup("s3", false, policy.s3SignResult, policy.s3CertResult, "QALV第三方認證電子簽章 ",
                policy.tpkSignTime)};
  for (const Group& g : groups) page.SetElementStyle(g.prefix + "Sign", "color", g.sign.colour);
  for (const Group& g : groups) page.SetElementStyle(g.prefix + "Cert", "color", g.cert.colour);
  for (const Group& g : groups) page.SetElementStyle(g.prefix + "Title", "color", g.title.colour);
  for (const Group& g : groups) {
    if (g.namesInsurer) {
      page.SetElementInnerHtml(g.prefix + "Issuer", account);
      page.SetElementText(g.prefix + "Verdict", g.title.text);
    } else {
      page.SetElementText(g.prefix + "Title", g.title.text);
    }
    page.SetElementText(g.prefix + "Sign", g.sign.text);
    page.SetElementText(g.prefix + "Cert", g.cert.text);
    page.SetElementText(g.prefix + "SignTime", g.signTime);
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

// The picture's address under the page's own scheme, by its fixed name in
// the work folder. The query changes with every render: the names stay the
// same from one package to the next, and the page must not show an earlier
// package's picture from its cache.
QString ImageSource(const std::string& path, quint64 render) {
  if (path.empty()) return {};
  const QString name = QString::fromStdString(std::filesystem::path(path).filename().string());
  return QStringLiteral("res:/WORK/%1?n=%2").arg(name).arg(render);
}

void WritePreview(ElementWriter& page, const PolicyState& policy) {
  static quint64 renders = 0;
  ++renders;
  const bool insurerTrusted = InsurerTrusted(policy);
  const bool authorityTrusted = AuthorityTrusted(policy);
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
  WipeText(target);
  target = std::move(text);
}

// The Base64 text of the document; false when memory runs out. Qt's encoder
// is a plain table lookup: the document goes to the page in the clear anyway,
// so a constant-time one (mbed TLS's) would only cost a tenth of a second per
// 10 MB.
bool EncodeDocument(const PolicyState& policy, QString& text) {
  // Never past the buffer, whatever the length field says.
  const size_t length =
      std::min(static_cast<size_t>(std::max(policy.pdfLength, 0)), policy.pdfData.size());
  QByteArray encoded;
  bool made = true;
  try {
    encoded = QByteArray::fromRawData(reinterpret_cast<const char*>(policy.pdfData.data()),
                                      static_cast<qsizetype>(length))
                  .toBase64();
    text = QString::fromLatin1(encoded);
  } catch (const std::bad_alloc&) {
    made = false;
  }
  WipeBytes(encoded);
  return made;
}

}  // namespace

void RenderPolicy(ReaderContext& reader) {
  ResetPage(reader);
  PolicyState& policy = reader.policy;
  const QString path = reader.policyPath;
  const std::filesystem::path file(path.toStdString());
  const std::optional<int32_t> opened = reader.openPolicy ? reader.openPolicy(file) : OpenPolicy(policy, file);
  // The window closed during the opening: there is nothing left to show it on.
  if (!opened) return;
  const int32_t statusCode = *opened;
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
