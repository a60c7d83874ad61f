// The system's reasons for a failed file operation, worded for the user in
// the reader's own language instead of the C library's English.
#pragma once

#include <QString>

namespace qalv {

// The text for an errno value followed by the number in parentheses, as in
// "沒有權限(13)"; an error without a text of its own reads "系統錯誤(N)".
QString SystemErrorText(int errorNumber);

}  // namespace qalv
