// "詳細資料" behind each group of the page's verification tree: the signer's
// details dialog, its certificate export and the verification report, whose
// verdict and online answer are read back from the page as it shows them.
#pragma once

#include <QString>

#include "session/policy_state.h"
#include "ui/signer_details_dialog.h"

class QWebEnginePage;
class QWidget;

namespace qalv {

// The save dialog of the exports: the file chosen, "" when cancelled.
using ExportChooser = SignerDetailsDialog::SaveChooser;

// Shows the details of `signer` ("s1", "s2" or "s3") of the package opened
// last from `policyPath`, owned by `window`; nothing when no package was read.
void ShowSignerDetails(const PolicyState& policy, const QString& policyPath, QWebEnginePage& page,
                       const QString& signer, const ExportChooser& chooseTarget, QWidget* window);

}  // namespace qalv
