#include "platform/system_error.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace qalv {
namespace {

// The errors saving or reading a file can meet on a desktop; related errors
// share a text, and the number tells them apart.
constexpr struct {
  int number;
  const char* text;
} kTexts[] = {
    {ENOSPC, "磁碟空間不足"},
    {EDQUOT, "磁碟空間不足"},
    {EACCES, "沒有權限"},
    {EPERM, "沒有權限"},
    {ENOENT, "找不到檔案或資料夾"},
    {ENOTDIR, "找不到檔案或資料夾"},
    {EROFS, "磁碟為唯讀"},
    {EFBIG, "檔案太大"},
    {ENAMETOOLONG, "檔案名稱太長"},
    {EISDIR, "這是資料夾，不是檔案"},
    {EIO, "磁碟讀寫錯誤"},
    {ENOMEM, "記憶體不足"},
};

}  // namespace

std::string SystemErrorText(int errorNumber) {
  const auto row = std::find_if(std::begin(kTexts), std::end(kTexts),
                                [&](const auto& known) { return known.number == errorNumber; });
  const char* text = row == std::end(kTexts) ? "系統錯誤" : row->text;
  return std::string(text) + "(" + std::to_string(errorNumber) + ")";
}

std::string WriteFailureText(const std::string& path, int errorNumber) {
  return path + "寫入失敗," + SystemErrorText(errorNumber);
}

}  // namespace qalv
