// An HTTP server on 127.0.0.1 with a port the system picks, running on its
// own thread for the life of the object.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include <httplib.h>

namespace qalv::test {

class LocalServer {
 public:
  LocalServer() = default;
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;
  ~LocalServer() { Stop(); }

  httplib::Server& server() { return server_; }

  // Binds and starts serving; the routes must be set before.
  void Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  void Stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  int port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace qalv::test
