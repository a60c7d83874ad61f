#include "ui/signer_details_flow.h"

#include <QByteArray>
#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>
#include <QWebEnginePage>
#include <array>
#include <optional>

#include "opening/signer_details.h"
#include "ui/shell/reader_version.h"
#include "ui/signer_details_dialog.h"
#include "ui/verification_report.h"

namespace qalv {
namespace {

// The page's names of the three signatures, the tree's words for them.
const QStringList kSignatures = {QStringLiteral("s1"), QStringLiteral("s2"), QStringLiteral("s3")};
const std::array<QString, 3> kSignatureTitles = {QStringLiteral("保單內容電子簽章"), QStringLiteral("保單封包電子簽章"),
                                                 QStringLiteral("QALV第三方認證電子簽章")};

const std::optional<SignerDetails>& SignerOf(const PolicySigners& signers, int index) {
  return index == 0 ? signers.s1 : index == 1 ? signers.s2 : signers.s3;
}

const SignerRecord& SignerRecordOf(const PolicyState& policy, int index) {
  return index == 0 ? policy.s1Signer : index == 1 ? policy.s2Signer : policy.s3Signer;
}

// What a script gives back, waiting for it while the window's events go on.
QVariant EvaluateOnPage(QWebEnginePage& page, const QString& script) {
  QVariant result;
  QEventLoop loop;
  page.runJavaScript(script, [&](const QVariant& value) {
    result = value;
    loop.quit();
  });
  loop.exec();
  return result;
}

// The report of the opening: the page's own words for the verdict and the
// online answer, read back from it, and the core's record of the signers.
int WriteReport(const PolicyState& policy, const QString& policyPath, QWebEnginePage& page,
                const QString& target) {
  const QVariantMap shown = EvaluateOnPage(page, QStringLiteral(
      "(() => { const text = (id) => document.getElementById(id).textContent.trim();"
      " const shown = (id) => getComputedStyle(document.getElementById(id)).display !== 'none';"
      " const rows = (id) => Array.from(document.getElementById(id).querySelectorAll('.row'))"
      "   .map((row) => row.textContent.trim()).filter((line) => line);"
      " const verdict = [text('status')];"
      " for (const s of ['s1', 's2', 's3']) verdict.push(text(s + 'Title'), text(s + 'Sign'), text(s + 'Cert'),"
      "   text(s + 'SignTime'));"
      " const online = (shown('onlineVerify') ? rows('onlineVerify') : [])"
      "   .concat(shown('onlineStatus') ? rows('onlineStatus') : []);"
      " return {verdict, online}; })()")).toMap();
  VerificationReport report;
  report.packageFile = QFileInfo(policyPath).fileName();
  report.packageSha256 = QString::fromStdString(policy.packageSha256);
  report.verdict = shown.value(QStringLiteral("verdict")).toStringList();
  report.online = shown.value(QStringLiteral("online")).toStringList();
  report.signatureTitles = {kSignatureTitles[0], kSignatureTitles[1], kSignatureTitles[2]};
  report.signers = DescribeSigners(policy);
  report.insurerSeal = InsurerTrusted(policy) ? QStringLiteral("通過") : QStringLiteral("未通過");
  report.authoritySeal = AuthorityTrusted(policy) ? QStringLiteral("通過") : QStringLiteral("未通過");
  report.verifiedAt = QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
  report.readerVersion = GetReaderVersion();
  return WriteVerificationReport(target, report);
}

}  // namespace

void ShowSignerDetails(const PolicyState& policy, const QString& policyPath, QWebEnginePage& page,
                       const QString& signer, const ExportChooser& chooseTarget, QWidget* window) {
  const int index = static_cast<int>(kSignatures.indexOf(signer));
  if (index < 0) return;
  const PolicySigners signers = DescribeSigners(policy);
  const std::optional<SignerDetails>& details = SignerOf(signers, index);
  // Before a package was read there is nobody to show.
  if (!details) return;
  const WipedBytes& der = SignerRecordOf(policy, index).der;
  SignerDetailsDialog dialog(
      kSignatureTitles[index], *details,
      QByteArray(reinterpret_cast<const char*>(der.data()), static_cast<qsizetype>(der.size())), chooseTarget,
      [&](const QString& target) { return WriteReport(policy, policyPath, page, target); }, window);
  dialog.exec();
}

}  // namespace qalv
