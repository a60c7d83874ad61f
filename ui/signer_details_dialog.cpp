#include "ui/signer_details_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/system_error.h"
#include "session/format_local_time.h"
#include "ui/shell/saved_file.h"
#include "ui/wiped_text.h"

namespace qalv {
namespace {

// The name parts people read first, in their reading order.
constexpr std::array<std::pair<const char*, const char*>, 4> kReadFirst = {{
    {"2.5.4.3", "CN"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.6", "C"},
}};

QLabel* Value(const QString& text, const QString& name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  label->setFocusPolicy(Qt::StrongFocus);
  return label;
}

QString CertificateName(const CertificateSummary& certificate) {
  const QString name = ReadableName(certificate.subject);
  return name.isEmpty() ? QStringLiteral("（未命名的憑證）") : name;
}

QWidget* CertificateSection(const SignerDetails& details, QWidget* parent) {
  auto* box = new QGroupBox(QStringLiteral("簽署者憑證"), parent);
  auto* form = new QFormLayout(box);
  for (const SignerFact& fact : SignerFacts(details)) {
    QLabel* value = Value(fact.text, fact.name, box);
    value->setAccessibleName(fact.label);
    value->setAccessibleDescription(fact.text);
    form->addRow(fact.label + u'：', value);
  }
  return box;
}

// The walk as a small tree: where it ended at the top, the signer at the
// bottom, each with its mark.
QWidget* PathSection(const SignerDetails& details, QWidget* parent) {
  auto* box = new QGroupBox(QStringLiteral("憑證路徑"), parent);
  auto* layout = new QVBoxLayout(box);
  auto* tree = new QTreeWidget(box);
  tree->setObjectName(QStringLiteral("path"));
  tree->setHeaderHidden(true);
  tree->setAccessibleName(QStringLiteral("憑證路徑"));
  tree->setAccessibleDescription(QStringLiteral("由信任的根憑證到簽署者的憑證，每張憑證附上它的檢查結果"));
  QTreeWidgetItem* above = nullptr;
  const auto& path = details.path;
  for (auto step = path.rbegin(); step != path.rend(); ++step) {
    const bool signer = step == std::prev(path.rend());
    const bool last = step == path.rbegin();
    QString mark;
    if (step->anchor) {
      mark = QStringLiteral("✔ 信任的根憑證");
    } else if (last) {
      mark = QStringLiteral("✘ 未連結至信任的根憑證");
    } else {
      mark = signer ? QStringLiteral("簽署者") : QStringLiteral("中繼憑證");
    }
    const QString text = CertificateName(step->certificate) + QStringLiteral("　") + mark;
    auto* item = above == nullptr ? new QTreeWidgetItem(tree) : new QTreeWidgetItem(above);
    item->setText(0, text);
    item->setToolTip(0, FingerprintText(step->certificate.sha256Fingerprint));
    above = item;
  }
  if (path.empty()) {
    new QTreeWidgetItem(tree, {QStringLiteral("沒有可用的憑證鏈")});
  }
  tree->expandAll();
  layout->addWidget(tree);
  return box;
}

QWidget* ReasonSection(const SignerDetails& details, QWidget* parent) {
  auto* box = new QGroupBox(QStringLiteral("檢查結果"), parent);
  auto* layout = new QVBoxLayout(box);
  auto* list = new QListWidget(box);
  list->setObjectName(QStringLiteral("reasons"));
  list->setAccessibleName(QStringLiteral("檢查結果"));
  list->setAccessibleDescription(QStringLiteral("每一項未通過的檢查及原因"));
  for (const std::string& reason : details.reasons) list->addItem(QStringLiteral("✘ ") + QString::fromStdString(reason));
  if (details.reasons.empty()) list->addItem(QStringLiteral("✔ 所有檢查皆通過"));
  list->setMaximumHeight(list->sizeHintForRow(0) * 4 + 8);
  layout->addWidget(list);
  return box;
}

}  // namespace

QList<SignerFact> SignerFacts(const SignerDetails& details) {
  const CertificateSummary& c = details.certificate;
  return {
      {QStringLiteral("簽署者"), QStringLiteral("subject"), ReadableName(c.subject)},
      {QStringLiteral("簽發者"), QStringLiteral("issuer"), ReadableName(c.issuer)},
      {QStringLiteral("序號"), QStringLiteral("serial"), QString::fromStdString(c.serial)},
      {QStringLiteral("有效期間"), QStringLiteral("validity"),
       QStringLiteral("%1 至 %2").arg(LocalTimeText(c.notBefore), LocalTimeText(c.notAfter))},
      {QStringLiteral("金鑰長度"), QStringLiteral("keyBits"), QStringLiteral("RSA %1 位元").arg(c.keyBits)},
      {QStringLiteral("摘要演算法"), QStringLiteral("digest"),
       details.digest.empty() ? QStringLiteral("未驗證") : QString::fromStdString(details.digest)},
      {QStringLiteral("SHA-256 指紋"), QStringLiteral("fingerprint"), FingerprintText(c.sha256Fingerprint)},
  };
}

QString ReadableName(const NameText& name) {
  QStringList parts;
  for (const auto& [oid, label] : kReadFirst) {
    for (const NameAttribute& attribute : name) {
      if (attribute.oid == oid) parts << QString::fromLatin1(label) + u'=' + QString::fromStdString(attribute.value);
    }
  }
  for (const NameAttribute& attribute : name) {
    const bool shown = std::any_of(kReadFirst.begin(), kReadFirst.end(),
                                   [&](const auto& first) { return attribute.oid == first.first; });
    if (!shown) parts << QString::fromStdString(attribute.oid) + u'=' + QString::fromStdString(attribute.value);
  }
  return parts.join(QStringLiteral(", "));
}

QString LocalTimeText(const std::string& utc) {
  der::Time time;
  char zone = 0;
  if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &time.year, &time.month, &time.day, &time.hour,
                  &time.minute, &time.second, &zone) != 7 ||
      zone != 'Z') {
    return QString::fromStdString(utc);
  }
  const std::string local = FormatLocalTime(time, nullptr);
  return QString::fromStdString(local.empty() ? utc : local);
}

QString FingerprintText(const std::string& hex) {
  QStringList pairs;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) pairs << QString::fromStdString(hex.substr(i, 2));
  return pairs.join(u':');
}

SignerDetailsDialog::SignerDetailsDialog(const QString& title, const SignerDetails& details,
                                         QByteArray certificateDer, SaveChooser chooseTarget,
                                         ReportWriter writeReport, QWidget* parent)
    : QDialog(parent),
      certificateDer_(std::move(certificateDer)),
      chooseTarget_(std::move(chooseTarget)),
      writeReport_(std::move(writeReport)) {
  setWindowTitle(QStringLiteral("簽章詳細資料"));
  setAccessibleName(windowTitle());
  setAccessibleDescription(QStringLiteral("%1的簽署者、憑證路徑與檢查結果").arg(title));
  auto* layout = new QVBoxLayout(this);
  QLabel* heading = Value(title, QStringLiteral("signature"), this);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  layout->addWidget(heading);
  layout->addWidget(CertificateSection(details, this));
  layout->addWidget(PathSection(details, this));
  layout->addWidget(ReasonSection(details, this));

  auto* buttons = new QDialogButtonBox(this);
  const struct {
    const char* text;
    const char* name;
    const char* description;
    QDialogButtonBox::ButtonRole role;
  } actions[] = {
      {"匯出憑證", "exportCertificate", "將簽署者的憑證存成 PEM 檔", QDialogButtonBox::ActionRole},
      {"匯出驗證報告", "exportReport", "將這次驗證的結果存成 PDF 報告，不含保單內容", QDialogButtonBox::ActionRole},
      {"關閉", "close", "關閉此視窗", QDialogButtonBox::RejectRole},
  };
  for (const auto& action : actions) {
    QPushButton* button = buttons->addButton(QString::fromUtf8(action.text), action.role);
    button->setObjectName(QString::fromLatin1(action.name));
    button->setAccessibleDescription(QString::fromUtf8(action.description));
  }
  buttons->findChild<QPushButton*>(QStringLiteral("exportCertificate"))->setEnabled(!certificateDer_.isEmpty());
  connect(buttons->findChild<QPushButton*>(QStringLiteral("exportCertificate")), &QPushButton::clicked, this,
          &SignerDetailsDialog::ExportCertificate);
  connect(buttons->findChild<QPushButton*>(QStringLiteral("exportReport")), &QPushButton::clicked, this,
          &SignerDetailsDialog::ExportReport);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(640, 600);
}

SignerDetailsDialog::~SignerDetailsDialog() { WipeBytes(certificateDer_); }

void SignerDetailsDialog::ExportCertificate() {
  const QString target = chooseTarget_(QStringLiteral("signer.pem"), QStringLiteral("憑證 (*.pem)"));
  if (target.isEmpty()) return;
  QByteArray pem = "-----BEGIN CERTIFICATE-----\n";
  QByteArray body = certificateDer_.toBase64();
  for (qsizetype at = 0; at < body.size(); at += 64) pem += body.mid(at, 64) + '\n';
  pem += "-----END CERTIFICATE-----\n";
  WipeBytes(body);
  const int error = SaveFile(target, pem);
  WipeBytes(pem);
  Tell(error == 0 ? QStringLiteral("憑證已匯出至") + target
                  : QStringLiteral("憑證匯出失敗：") + QString::fromStdString(SystemErrorText(error)),
       error != 0);
}

void SignerDetailsDialog::ExportReport() {
  const QString target = chooseTarget_(QStringLiteral("驗證報告.pdf"), QStringLiteral("PDF 文件 (*.pdf)"));
  if (target.isEmpty()) return;
  const int error = writeReport_(target);
  Tell(error == 0 ? QStringLiteral("驗證報告已匯出至") + target
                  : QStringLiteral("驗證報告匯出失敗：") + QString::fromStdString(SystemErrorText(error)),
       error != 0);
}

void SignerDetailsDialog::Tell(const QString& text, bool failed) {
  QMessageBox box(failed ? QMessageBox::Critical : QMessageBox::Information,
                  failed ? QStringLiteral("錯誤") : QStringLiteral("資訊"), text, QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace qalv
