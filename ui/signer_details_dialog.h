// "簽章詳細資料": who made one of the package's three signatures, who vouched
// for the signer, when the certificate is valid, its fingerprint, the path
// its check walked up to a trusted root, and why a check failed. From here
// the signer's certificate can be saved as PEM and a verification report
// written.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

#include "opening/signer_details.h"

namespace qalv {

// "O=…, CN=…" in the order people read a name: CN, O, OU, C, then the rest
// in the certificate's order under their OIDs.
QString ReadableName(const NameText& name);

// "2026/12/09 08:00:00" in local time from a stored "YYYY-MM-DDTHH:MM:SSZ";
// the stored text itself when it is not one.
QString LocalTimeText(const std::string& utc);

// "AB:CD:…": the fingerprint as certificate viewers show it.
QString FingerprintText(const std::string& hex);

// One fact about a signer as a person reads it.
struct SignerFact {
  QString label;  // "簽署者", "SHA-256 指紋", ...
  QString name;   // its widget's object name in the dialog
  QString text;
};

// The signer's certificate and signature in the order the dialog and the
// report show them.
QList<SignerFact> SignerFacts(const SignerDetails& details);

class SignerDetailsDialog : public QDialog {
  Q_OBJECT
 public:
  // Returns the file to save under, or "" when the user cancelled.
  using SaveChooser = std::function<QString(const QString& proposedName, const QString& filter)>;
  // Writes the verification report to the chosen file: 0, or the errno of
  // the step that failed.
  using ReportWriter = std::function<int(const QString& target)>;

  // `title`: the signature's name as the tree shows it ("保單內容電子簽章").
  // `certificateDer`: the signer's certificate, exported as PEM.
  SignerDetailsDialog(const QString& title, const SignerDetails& details, QByteArray certificateDer,
                      SaveChooser chooseTarget, ReportWriter writeReport, QWidget* parent = nullptr);
  ~SignerDetailsDialog() override;

 private:
  void ExportCertificate();
  void ExportReport();
  void Tell(const QString& text, bool failed);

  QByteArray certificateDer_;
  SaveChooser chooseTarget_;
  ReportWriter writeReport_;
};

}  // namespace qalv
