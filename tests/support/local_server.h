// HTTP servers on 127.0.0.1 with a port the system picks, each running on its
// own thread for the life of the object.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include <httplib.h>

namespace qalv::test {

// Serves an already configured server (plain or TLS) until destroyed.
class Serving {
 public:
  explicit Serving(httplib::Server& server) : server_(server) {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Serving() {
    server_.stop();
    thread_.join();
  }
  Serving(const Serving&) = delete;
  Serving& operator=(const Serving&) = delete;

  int port() const { return port_; }

 private:
  httplib::Server& server_;
  std::thread thread_;
  int port_ = 0;
};

// A plain server of its own: set the routes on server(), then Start().
class LocalServer {
 public:
  httplib::Server& server() { return server_; }
  void Start() { serving_.emplace(server_); }
  void Stop() { serving_.reset(); }

  int port() const { return serving_ ? serving_->port() : 0; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
  }

 private:
  httplib::Server server_;
  std::optional<Serving> serving_;
};

}  // namespace qalv::test
