// A server that answers with raw bytes, for replies no well-behaved server
// would give: cut short, malformed, or ended by a reset instead of a close.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace qalv::test {

// A listening socket on 127.0.0.1 with a port the system picks; throws when
// there is none.
int Listen(int backlog, uint16_t& port);

// Accepts one connection, reads the whole request, answers with raw bytes and
// ends the connection. A slow reader pauses four times within the first
// megabyte of the request.
class RawServer {
 public:
  enum class Ending {
    kClose,          // the reply, then an orderly close (FIN)
    kReset,          // the reply, then a reset (RST) once the client has it
    // A reset as soon as the request starts to arrive (so the client is past
    // its connect): nothing read, nothing sent.
    kResetUnread,
  };

  explicit RawServer(std::string reply, Ending ending = Ending::kClose, bool slowReader = false);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  std::string Url(const std::string& path) const;

 private:
  uint16_t port_ = 0;
  int listener_;
  std::thread thread_;
};

}  // namespace qalv::test
