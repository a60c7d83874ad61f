// The verification report a holder or an insurer's clerk can keep: a PDF
// that records which package was verified (its name and SHA-256), the
// verdict as the page showed it, the three signers, the seals' verdicts, the
// online answer when one was made, when, and by which reader. It never holds
// the policy document itself.
#pragma once

#include <QString>
#include <QStringList>
#include <array>

#include "opening/signer_details.h"

namespace qalv {

struct VerificationReport {
  QString packageFile;    // the package's file name
  QString packageSha256;  // upper-case hexadecimal
  QStringList verdict;    // the status line, then the tree's lines
  // The three signatures' names as the tree shows them, and their signers
  // (absent when the package reader did not read the certificate).
  std::array<QString, 3> signatureTitles;
  PolicySigners signers;
  QString insurerSeal;    // the seals' verdicts in words
  QString authoritySeal;
  QStringList online;     // the online section's lines; empty when none was made
  QString verifiedAt;     // local time
  QString readerVersion;
};

// Writes the report as a PDF at `target`, replacing a file there only when
// the whole report was written: 0, or the errno of the failed step.
[[nodiscard]] int WriteVerificationReport(const QString& target, const VerificationReport& report);

}  // namespace qalv
