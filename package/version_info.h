// The package's version-info record: identifying texts, the services'
// address, six seal images and per-platform support and update data.
#pragma once

#include <cstdint>

#include "package/tlv_reader.h"

namespace qalv {

// Spans into the package copy; the record owns nothing.
struct VersionInfo {
  ByteSpan whole;  // the whole element, set by the package reader
  ByteSpan version;
  ByteSpan uniqueSerial;
  ByteSpan batchNumber;
  ByteSpan fileName;
  ByteSpan kind;
  ByteSpan transaction;
  ByteSpan memo;
  ByteSpan accountName;
  ByteSpan certChainUrl;
  ByteSpan tpkTrustSeal;
  ByteSpan tpkMistrustSeal;
  ByteSpan ipkTrustSeal;
  ByteSpan ipkMistrustSeal;
  ByteSpan onlineTrustSeal;
  ByteSpan onlineMistrustSeal;
  int32_t winSupport = 0;
  ByteSpan winVersion;
  ByteSpan winUpdate;
  int32_t macSupport = 0;
  ByteSpan macVersion;
  ByteSpan macUpdate;
  int32_t iosSupport = 0;
  ByteSpan iosVersion;
  ByteSpan iosUpdate;
  int32_t androidSupport = 0;
  ByteSpan androidVersion;
  ByteSpan androidUpdate;
  int32_t winPhoneSupport = 0;
  ByteSpan winPhoneVersion;
  ByteSpan winPhoneUpdate;
};

// Reads the element `info.whole`; 0 or the first code met (20, 22, 24, 26, 28).
[[nodiscard]] int32_t ReadVersionInfo(VersionInfo& info);

}  // namespace qalv
