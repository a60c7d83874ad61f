#include "package/version_info.h"

#include <string>

#include "package/elements.h"
#include "platform/trace.h"

namespace qalv {
namespace {

// A span field and the format of its log line.
struct SpanKey {
  der::Bytes VersionInfo::*field;
  const char* format;
};

struct PlatformKeys {
  int32_t VersionInfo::*support;
  const char* supportFormat;
  der::Bytes VersionInfo::*version;
  const char* versionLabel;
  der::Bytes VersionInfo::*update;
  const char* updateLabel;
};

constexpr SpanKey kTextKeys[] = {
    {&VersionInfo::version, "version=%s\n"},
    {&VersionInfo::uniqueSerial, "uniqueSerial=%s\n"},
    {&VersionInfo::batchNumber, "batchNumber=%s\n"},
    {&VersionInfo::fileName, "fileName=%s\n"},
    {&VersionInfo::kind, "kind=%s\n"},
    {&VersionInfo::transaction, "transaction=%s\n"},
    {&VersionInfo::memo, "memo=%s\n"},
    {&VersionInfo::accountName, "accountName=%s\n"},
    {&VersionInfo::certChainUrl, "certChainUrl=%s\n"},
};

constexpr SpanKey kSealKeys[] = {
    {&VersionInfo::tpkTrustSeal, "tpkTrustSeal len=%d\n"},
    {&VersionInfo::tpkMistrustSeal, "tpkMistrustSeal len=%d\n"},
    {&VersionInfo::ipkTrustSeal, "ipkTrustSeal len=%d\n"},
    {&VersionInfo::ipkMistrustSeal, "ipkMistrustSeal len=%d\n"},
    {&VersionInfo::onlineTrustSeal, "onlineTrustSeal len=%d\n"},
    {&VersionInfo::onlineMistrustSeal, "onlineMistrustSeal len=%d\n"},
};

constexpr PlatformKeys kPlatforms[] = {
    {&VersionInfo::winSupport, "winSupport=%d\n", &VersionInfo::winVersion, "winVersion",
     &VersionInfo::winUpdate, "winUpdate"},
    {&VersionInfo::macSupport, "macSupport=%d\n", &VersionInfo::macVersion, "macVersion",
     &VersionInfo::macUpdate, "macUpdate"},
    {&VersionInfo::iosSupport, "iosSupport=%d\n", &VersionInfo::iosVersion, "iosVersion",
     &VersionInfo::iosUpdate, "iosUpdate"},
    {&VersionInfo::androidSupport, "androidSupport=%d\n", &VersionInfo::androidVersion,
     "androidVersion", &VersionInfo::androidUpdate, "androidUpdate"},
    {&VersionInfo::winPhoneSupport, "winPhoneSupport=%d\n", &VersionInfo::winPhoneVersion,
     "winPhoneVersion", &VersionInfo::winPhoneUpdate, "winPhoneUpdate"},
};

// A UTF8String's content, taken as it is: the readers of each text decide
// its code page.
int32_t ReadText(der::Cursor& cur, der::Bytes& text) {
  der::Cursor content;
  const der::LengthRule rule = der::LengthRule::kPackage;
  if (const int32_t code = cur.ReadElement(der::kTagUtf8String, content, rule)) return code;
  text = content.Rest();
  return 0;
}

}  // namespace

int32_t ReadVersionInfo(der::Cursor cur, VersionInfo& info) {
  trace::Log("---VersionInfo parse start\n");
  trace::Log("VersionInfo content len=%d\n", static_cast<int>(cur.Left()));

  for (const SpanKey& key : kTextKeys) {
    der::Bytes& text = info.*key.field;
    if (const int32_t code = ReadText(cur, text)) return code;
    // printf needs a terminated copy; the record keeps the span.
    const std::string shown(text.begin(), text.end());
    trace::Log(key.format, shown.c_str());
  }
  for (const SpanKey& key : kSealKeys) {
    der::Bytes& seal = info.*key.field;
    if (const int32_t code = tlv::ReadBitString(cur, seal)) return code;
    trace::Log(key.format, static_cast<int>(seal.size()));
  }
  for (const PlatformKeys& platform : kPlatforms) {
    if (const int32_t code = tlv::ReadInteger(cur, info.*platform.support)) return code;
    trace::Log(platform.supportFormat, info.*platform.support);
    for (const auto& [field, label] : {std::pair{platform.version, platform.versionLabel},
                                       std::pair{platform.update, platform.updateLabel}}) {
      der::Bytes& text = info.*field;
      if (const int32_t code = ReadText(cur, text)) return code;
      trace::Log("%s", label);
      trace::Dump(text.data(), text.size());
    }
  }
  if (!cur.Empty()) return tlv::kLengthMismatch;
  trace::Log("---VersionInfo parse end\n");
  return 0;
}

}  // namespace qalv
