#include "session/format_local_time.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace qalv {
namespace {

bool IsLeapYear(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool IsDateAndTime(const der::Time& t) {
  static constexpr int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.month < 1 || t.month > 12 || t.day < 1) return false;
  const int32_t days = kDays[t.month - 1] + (t.month == 2 && IsLeapYear(t.year) ? 1 : 0);
  return t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
         t.second >= 0 && t.second <= 59;
}

std::string Format(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return {};
  if (local.tm_year < 0) {
    const std::time_t epoch = 0;
    if (!localtime_r(&epoch, &local)) return {};
  }
  char text[64];
  return std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local) ? text : "";
}

}  // namespace

std::string FormatLocalTime(const der::Time& time, OwnerWindow* window) {
  if (!IsDateAndTime(time)) {
    if (window != nullptr) {
      window->ShowMessage({"時區轉換錯誤", std::strerror(EINVAL), OwnerWindow::Icon::kError,
                           OwnerWindow::Buttons::kOk, /*owned=*/false});
    }
    return {};
  }
  std::tm utc{};
  utc.tm_year = time.year - 1900;
  utc.tm_mon = time.month - 1;
  utc.tm_mday = time.day;
  utc.tm_hour = time.hour;
  utc.tm_min = time.minute;
  utc.tm_sec = time.second;
  return Format(timegm(&utc));
}

}  // namespace qalv
