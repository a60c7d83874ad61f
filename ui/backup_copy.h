// Saving a byte-for-byte copy of the open policy file where the user chooses.
#pragma once

#include <QString>
#include <functional>

#include "ui/reader_context.h"

namespace qalv {

// "backup_" + the policy file's name, the text after the last "/" (a "\" is
// a character of the name).
QString BackupProposal(const QString& policyPath);

// Copies reader.policyPath to the path `chooseTarget` returns for the proposed
// name ("" when the user cancels) and reports the outcome. The target is
// replaced only by a complete copy.
void CopyTpk(ReaderContext& reader,
             const std::function<QString(const QString& proposedName)>& chooseTarget);

}  // namespace qalv
