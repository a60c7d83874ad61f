// The system's reasons for a failed file operation, worded for the user in
// the reader's own language instead of the C library's English.
#pragma once

#include <string>

namespace qalv {

// The text for an errno value followed by the number in parentheses, as in
// "沒有權限(13)"; an error without a text of its own reads "系統錯誤(N)".
std::string SystemErrorText(int errorNumber);

// What the user is told when a file the program keeps could not be written:
// the path, then "寫入失敗," and the reason, as in
// "/home/a/qalvquv/TTS寫入失敗,磁碟空間不足(28)".
std::string WriteFailureText(const std::string& path, int errorNumber);

}  // namespace qalv
