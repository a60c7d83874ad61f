#include "ui/verification_report.h"

#include <QBuffer>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include "ui/shell/saved_file.h"
#include "ui/signer_details_dialog.h"

namespace qalv {
namespace {

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

QString Rows(const QList<std::pair<QString, QString>>& rows) {
  QString html = QStringLiteral("<table cellspacing='0' cellpadding='2'>");
  for (const auto& [label, value] : rows) {
    html += QStringLiteral("<tr><td width='22%'>%1</td><td>%2</td></tr>").arg(Escaped(label), Escaped(value));
  }
  return html + QStringLiteral("</table>");
}

QString Lines(const QStringList& lines) {
  QString html;
  for (const QString& line : lines) html += QStringLiteral("<p>%1</p>").arg(Escaped(line));
  return html;
}

QString SignerSection(const QString& title, const std::optional<SignerDetails>& signer) {
  QString html = QStringLiteral("<h3>%1</h3>").arg(Escaped(title));
  if (!signer) return html + Lines({QStringLiteral("未能讀取簽署者的憑證")});
  QList<std::pair<QString, QString>> facts;
  for (const SignerFact& fact : SignerFacts(*signer)) facts.append({fact.label, fact.text});
  html += Rows(facts);
  QStringList path;
  for (const PathStep& step : signer->path) {
    path << ReadableName(step.certificate.subject) + (step.anchor ? QStringLiteral("（信任的根憑證）") : QString());
  }
  html += Lines({QStringLiteral("憑證路徑：") + (path.isEmpty() ? QStringLiteral("沒有可用的憑證鏈")
                                                           : path.join(QStringLiteral(" → ")))});
  QStringList reasons;
  for (const std::string& reason : signer->reasons) reasons << QString::fromStdString(reason);
  return html + Lines({QStringLiteral("檢查結果：") +
                       (reasons.isEmpty() ? QStringLiteral("所有檢查皆通過") : reasons.join(QStringLiteral("；")))});
}

QString Html(const VerificationReport& report) {
  // Latin letters and digits from a TrueType face: the text of the hashes and
  // fingerprints must read back out of the PDF exactly; Chinese falls back to
  // the CJK face.
  QString html = QStringLiteral(
      "<html><body style='font-family: \"DejaVu Sans\", \"Noto Sans CJK TC\"; font-size: 9pt'>");
  html += QStringLiteral("<h2>電子保單驗證報告</h2>");
  html += Rows({{QStringLiteral("保單檔案"), report.packageFile},
                {QStringLiteral("檔案 SHA-256"), report.packageSha256},
                {QStringLiteral("驗證時間"), report.verifiedAt},
                {QStringLiteral("瀏覽器版本"), report.readerVersion}});
  html += QStringLiteral("<h3>驗證結果</h3>") + Lines(report.verdict);
  html += Rows({{QStringLiteral("保險公司印章"), report.insurerSeal},
                {QStringLiteral("QALV認證印章"), report.authoritySeal}});
  const std::array<const std::optional<SignerDetails>*, 3> signers = {&report.signers.s1, &report.signers.s2,
                                                                      &report.signers.s3};
  for (size_t i = 0; i < signers.size(); ++i) html += SignerSection(report.signatureTitles[i], *signers[i]);
  html += QStringLiteral("<h3>線上驗證</h3>") +
          Lines(report.online.isEmpty() ? QStringList{QStringLiteral("未進行線上驗證")} : report.online);
  return html + QStringLiteral("</body></html>");
}

}  // namespace

int WriteVerificationReport(const QString& target, const VerificationReport& report) {
  // Drawn in memory first, so that saving it is one write whose failure has
  // a reason to show.
  QByteArray pdf;
  {
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setTitle(QStringLiteral("電子保單驗證報告"));
    writer.setCreator(QStringLiteral("QALV 電子保單瀏覽器 ") + report.readerVersion);
    QTextDocument document;
    document.setHtml(Html(report));
    document.print(&writer);
  }
  return SaveFile(target, pdf);
}

}  // namespace qalv
