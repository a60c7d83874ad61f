#include "tests/support/raw_server.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace qalv::test {
namespace {

using std::chrono::milliseconds;

// The head up to its blank line, then as many body bytes as Content-Length
// says, only counted.
void ReadRequest(int peer, bool slowReader) {
  constexpr size_t kStep = 256 * 1024;
  std::string head;
  char chunk[64 * 1024];
  size_t received = 0;
  size_t total = SIZE_MAX;
  while (received < total) {
    const ssize_t n = recv(peer, chunk, sizeof(chunk), 0);
    if (n <= 0) return;
    const size_t before = received;
    received += static_cast<size_t>(n);
    if (slowReader && before < 4 * kStep && before / kStep != received / kStep) {
      std::this_thread::sleep_for(milliseconds(150));
    }
    if (total != SIZE_MAX) continue;
    head.append(chunk, static_cast<size_t>(n));
    const size_t headEnd = head.find("\r\n\r\n");
    if (headEnd == std::string::npos) continue;
    const size_t field = head.find("Content-Length: ");
    total = headEnd + 4 + (field < headEnd ? std::stoul(head.substr(field + 16)) : 0);
  }
}

// Closing with a zero linger time sends a reset and drops whatever is still
// unsent, so the reply is first left to be acknowledged (for at most 2 s).
void Reset(int peer) {
  for (int i = 0; i < 2000; ++i) {
    int unacknowledged = 0;
    if (ioctl(peer, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0) break;
    std::this_thread::sleep_for(milliseconds(1));
  }
  const linger abort{1, 0};
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
  close(peer);
}

void Serve(int peer, const std::string& reply, RawServer::Ending ending, bool slowReader) {
  timeval limit{5, 0};
  setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  if (ending == RawServer::Ending::kResetUnread) {
    char first = 0;
    (void)recv(peer, &first, 1, MSG_PEEK);
    return Reset(peer);
  }
  ReadRequest(peer, slowReader);
  if (!reply.empty()) (void)send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
  if (ending == RawServer::Ending::kReset) return Reset(peer);
  shutdown(peer, SHUT_WR);
  char sink[256];
  while (recv(peer, sink, sizeof(sink), 0) > 0) {
  }
  close(peer);
}

}  // namespace

int Listen(int backlog, uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

RawServer::RawServer(std::string reply, Ending ending, bool slowReader)
    : listener_(Listen(1, port_)) {
  if (slowReader) {
    const int small = 16 * 1024;
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
  }
  thread_ = std::thread([this, ending, slowReader, reply = std::move(reply)] {
    const int peer = accept(listener_, nullptr, nullptr);
    if (peer >= 0) Serve(peer, reply, ending, slowReader);
  });
}

RawServer::~RawServer() {
  shutdown(listener_, SHUT_RDWR);
  thread_.join();
  close(listener_);
}

std::string RawServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace qalv::test
