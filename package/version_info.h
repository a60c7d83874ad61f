// The package's version-info record: identifying texts, the services'
// address, six seal images and per-platform support and update data.
#pragma once

#include <cstdint>

#include "der/cursor.h"

namespace qalv {

// Spans into the package copy; the record owns nothing.
struct VersionInfo {
  der::Bytes whole;  // the whole element, set by the package reader
  der::Bytes version;
  der::Bytes uniqueSerial;
  der::Bytes batchNumber;
  der::Bytes fileName;
  der::Bytes kind;
  der::Bytes transaction;
  der::Bytes memo;
  der::Bytes accountName;
  der::Bytes certChainUrl;
  der::Bytes tpkTrustSeal;
  der::Bytes tpkMistrustSeal;
  der::Bytes ipkTrustSeal;
  der::Bytes ipkMistrustSeal;
  der::Bytes onlineTrustSeal;
  der::Bytes onlineMistrustSeal;
  int32_t winSupport = 0;
  der::Bytes winVersion;
  der::Bytes winUpdate;
  int32_t macSupport = 0;
  der::Bytes macVersion;
  der::Bytes macUpdate;
  int32_t iosSupport = 0;
  der::Bytes iosVersion;
  der::Bytes iosUpdate;
  int32_t androidSupport = 0;
  der::Bytes androidVersion;
  der::Bytes androidUpdate;
  int32_t winPhoneSupport = 0;
  der::Bytes winPhoneVersion;
  der::Bytes winPhoneUpdate;
};

// Reads the record from the content of its element (`info.whole`); 0 or the
// first code met (20, 22, 24, 26, 28).
[[nodiscard]] int32_t ReadVersionInfo(der::Cursor content, VersionInfo& info);

}  // namespace qalv
