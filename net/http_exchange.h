// The one HTTP POST behind every online service: one request, one status
// check (only 200 is success), the whole body read into one buffer. Every
// exchange is bounded in time and in the size of its reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/secure_buffer.h"

namespace qalv {

struct HttpRequest {
  std::string url;                        // scheme, host, optional port, path
  std::optional<std::string> objectName;  // path and query; absent: the url's path, query dropped
  uint32_t connectTimeoutMs = 0;
  std::optional<uint32_t> receiveTimeoutMs;  // no byte for this long ends the exchange
  std::optional<std::string> headerLine;     // one complete header line
  const uint8_t* body = nullptr;
  size_t bodyLength = 0;
  // The chain update takes a body cut short as complete; the others take it
  // as a read failure.
  bool cutBodyIsComplete = false;
  // The whole exchange, connection included, ends after this long however
  // the server trickles its bytes.
  uint32_t deadlineMs = 60000;
  // A reply body longer than this is refused as it arrives (or at once when
  // its announced length is longer); no more than this is ever held.
  size_t maxReplyBytes = 1048576;
};

struct HttpReply {
  // Past the deadline or the reply cap the exchange is kConnectFailed,
  // whatever already arrived and whatever `cutBodyIsComplete` says.
  enum class Outcome { kOk, kBadUrl, kConnectFailed, kHttpStatus, kReadFailed, kNoMemory };

  Outcome outcome = Outcome::kOk;
  int32_t statusCode = 0;   // 0 when none could be read
  uint32_t systemError = 0; // for kConnectFailed and kReadFailed
  std::string systemErrorText;
  // The body followed by one zero byte that `length` does not count; empty
  // when no body byte arrived.
  SecureBuffer data;
  int32_t length = 0;
};

[[nodiscard]] HttpReply HttpExchange(const HttpRequest& request);

// The reply's body as text: a zero byte in it ends the text.
std::string_view ReplyText(const HttpReply& reply);

}  // namespace qalv
