// The HTTP exchange against servers on 127.0.0.1: what the request carries,
// every outcome, the time-outs, the deadline and the reply cap, TLS trust
// taken from the environment (with a CA made by OpenSSL's command line) and
// the proxy environment; and the reference server's cap on request bodies.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/http_exchange.h"
#include "tests/support/env_override.h"
#include "tests/support/local_server.h"
#include "tests/support/raw_server.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_files.h"

namespace qalv {
namespace {

using test::EnvOverride;
using test::Listen;
using test::RawServer;
using test::Serving;

using Outcome = HttpReply::Outcome;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Holds stalled handlers until opened, so a server can stop promptly.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait_for(lock, std::chrono::seconds(10), [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// The requests a server saw; the last one is kept whole.
class Recorder {
 public:
  void Record(const httplib::Request& request) {
    std::lock_guard lock(mutex_);
    ++count_;
    last_ = request;
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  httplib::Request last() {
    std::lock_guard lock(mutex_);
    return last_;
  }

 private:
  std::mutex mutex_;
  int count_ = 0;
  httplib::Request last_;
};

std::string BodyText(const HttpReply& reply) {
  return std::string(reinterpret_cast<const char*>(reply.data.data()),
                     static_cast<size_t>(reply.length));
}

// A body is handed over with one uncounted zero byte; no body, no buffer.
void ExpectBodyShape(const HttpReply& reply) {
  if (reply.length == 0) {
    EXPECT_TRUE(reply.data.empty());
    return;
  }
  ASSERT_EQ(reply.data.size(), static_cast<size_t>(reply.length) + 1);
  EXPECT_EQ(reply.data.data()[reply.length], 0);
}

HttpRequest Post(const std::string& url) {
  HttpRequest request;
  request.url = url;
  request.connectTimeoutMs = 5000;
  request.receiveTimeoutMs = 5000;
  return request;
}

// Answers `total` bytes made on the fly, announced by Content-Length or
// chunked, so that even a huge reply costs the server no memory.
void ServeBytes(httplib::Response& response, size_t total, bool announced) {
  static const std::string piece(64 * 1024, 'c');
  if (announced) {
    response.set_content_provider(total, "application/octet-stream",
                                  [](size_t, size_t length, httplib::DataSink& sink) {
                                    return sink.write(piece.data(), std::min(piece.size(), length));
                                  });
    return;
  }
  response.set_chunked_content_provider(
      "application/octet-stream", [total](size_t offset, httplib::DataSink& sink) {
        if (offset == total) {
          sink.done();
          return true;
        }
        return sink.write(piece.data(), std::min(piece.size(), total - offset));
      });
}

// Routes /announced/N and /chunked/N answer N bytes; /refused/N announces N
// bytes under status 404.
void AddByteRoutes(httplib::Server& http) {
  http.Post(R"(/(announced|chunked|refused)/(\d+))",
            [](const httplib::Request& request, httplib::Response& response) {
              const std::string kind = request.matches[1];
              if (kind == "refused") response.status = 404;
              ServeBytes(response, std::stoull(request.matches[2]), kind != "chunked");
            });
}

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

class HttpExchangeTest : public testing::Test {
 protected:
  // Stalled handlers must return before the server can stop.
  ~HttpExchangeTest() override { gate_.Open(); }

  // The handlers use these, so they go after the server has stopped.
  Recorder recorder_;
  Gate gate_;

  // No proxy from the machine's environment may stand between the tests and
  // their servers.
  EnvOverride noProxy_{{"http_proxy", nullptr}, {"https_proxy", nullptr}, {"HTTPS_PROXY", nullptr},
                       {"all_proxy", nullptr},  {"ALL_PROXY", nullptr},   {"no_proxy", nullptr},
                       {"NO_PROXY", nullptr}};
  test::LocalServer server_;
};

TEST_F(HttpExchangeTest, OnlyStatus200IsSuccessAndOtherStatusesKeepNoBody) {
  std::atomic<int> okHits = 0;
  auto& http = server_.server();
  http.Post("/ok", [&](const httplib::Request&, httplib::Response& response) {
    ++okHits;
    response.set_content("chain text", "text/plain");
  });
  http.Post("/empty", [](const httplib::Request&, httplib::Response&) {});
  http.Post("/missing", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_content("not here", "text/plain");
  });
  http.Post("/broken", [](const httplib::Request&, httplib::Response& response) {
    response.status = 500;
    response.set_content("oops", "text/plain");
  });
  http.Post("/moved", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/ok", 301);
  });
  http.Post("/endless", [this](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink& sink) {
      sink.write("more", 4);
      gate_.Wait();
      return false;
    });
  });
  server_.Start();

  struct Row {
    const char* path;
    Outcome outcome;
    int32_t status;
    const char* body;
  };
  const Row rows[] = {
      {"/ok", Outcome::kOk, 200, "chain text"},
      {"/empty", Outcome::kOk, 200, ""},
      {"/missing", Outcome::kHttpStatus, 404, ""},
      {"/broken", Outcome::kHttpStatus, 500, ""},
      {"/moved", Outcome::kHttpStatus, 301, ""},  // not followed
      {"/nowhere", Outcome::kHttpStatus, 404, ""},
      // The body of a refusal is not waited for (the receive time-out is 5 s).
      {"/endless", Outcome::kHttpStatus, 404, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    const Clock::time_point start = Clock::now();
    const HttpReply reply = HttpExchange(Post(server_.Url(row.path)));
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(reply.outcome, row.outcome);
    EXPECT_EQ(reply.statusCode, row.status);
    EXPECT_EQ(BodyText(reply), row.body);
    ExpectBodyShape(reply);
  }
  EXPECT_EQ(okHits, 1);
}

TEST_F(HttpExchangeTest, RepliesBrokenOffOrMalformed) {
  struct Row {
    const char* name;
    std::string reply;
    bool cutBodyIsComplete;
    Outcome outcome;
    int32_t status;
    const char* body;
    uint32_t systemError;
  };
  const Row rows[] = {
      {"closed before the status", "", false, Outcome::kHttpStatus, 0, "", 0},
      {"not HTTP", "SSH-2.0-OpenSSH\r\n", false, Outcome::kHttpStatus, 0, "", 0},
      {"header block cut", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", false, Outcome::kHttpStatus,
       0, "", 0},
      {"interim reply first",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi", false,
       Outcome::kOk, 200, "hi", 0},
      {"body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", false,
       Outcome::kReadFailed, 200, "abc", CURLE_PARTIAL_FILE},
      {"body cut short, taken as complete", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
       true, Outcome::kOk, 200, "abc", 0},
      {"status 200 then nothing", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", false,
       Outcome::kReadFailed, 200, "", CURLE_PARTIAL_FILE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RawServer raw(row.reply);
    HttpRequest request = Post(raw.Url("/acquvSrv/caChain"));
    request.body = reinterpret_cast<const uint8_t*>("auth=A&aki=B");
    request.bodyLength = 12;
    request.cutBodyIsComplete = row.cutBodyIsComplete;
    const HttpReply reply = HttpExchange(request);
    EXPECT_EQ(reply.outcome, row.outcome);
    EXPECT_EQ(reply.statusCode, row.status);
    EXPECT_EQ(BodyText(reply), row.body);
    EXPECT_EQ(reply.systemError, row.systemError);
    EXPECT_EQ(reply.systemErrorText.empty(), row.systemError == 0);
    ExpectBodyShape(reply);
  }
}

TEST_F(HttpExchangeTest, ReceiveClockWaitsWhileALongBodyIsStillGoingOut) {
  RawServer raw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone", RawServer::Ending::kClose,
                /*slowReader=*/true);
  // Far more than the socket buffers hold, so the sending lasts past the pauses.
  const std::string body(24 * 1024 * 1024, 'p');
  HttpRequest request = Post(raw.Url("/acquvSrv/verify"));
  request.receiveTimeoutMs = 300;
  request.body = reinterpret_cast<const uint8_t*>(body.data());
  request.bodyLength = body.size();
  const Clock::time_point start = Clock::now();
  const HttpReply reply = HttpExchange(request);
  EXPECT_GE(ElapsedMs(start), 600);  // four pauses of the reader
  EXPECT_EQ(reply.outcome, Outcome::kOk);
  EXPECT_EQ(BodyText(reply), "done");
}

TEST_F(HttpExchangeTest, RequestCarriesAgentAcceptHeaderLineAndBodyExactly) {
  server_.server().Post("/acquvSrv/verify", [this](const httplib::Request& request,
                                                   httplib::Response& response) {
    recorder_.Record(request);
    response.set_content("ok", "text/plain");
  });
  server_.Start();

  const std::string binary("\x30\x82\x00\x01\xFF\x00tail", 10);
  struct Row {
    const char* name;
    std::optional<std::string> headerLine;
    std::string body;
    std::optional<std::string> contentType;  // absent: no such header at all
  };
  const Row rows[] = {
      {"binary body", "Content-Type: application/qalv-acquv-vfytpk", binary,
       "application/qalv-acquv-vfytpk"},
      {"line with its own CR LF", "Content-Type: application/x-www-form-urlencoded\r\n",
       "auth=0A&aki=1B", "application/x-www-form-urlencoded"},
      {"no header line, empty body", std::nullopt, "", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpRequest request = Post(server_.Url("/acquvSrv/verify"));
    request.headerLine = row.headerLine;
    request.body = reinterpret_cast<const uint8_t*>(row.body.data());
    request.bodyLength = row.body.size();
    EXPECT_EQ(HttpExchange(request).outcome, Outcome::kOk);
    const httplib::Request seen = recorder_.last();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.get_header_value("User-Agent"), "QUV Reader");
    EXPECT_EQ(seen.get_header_value("Accept"), "*/*");
    EXPECT_EQ(seen.body, row.body);
    EXPECT_EQ(seen.has_header("Content-Type"), row.contentType.has_value());
    EXPECT_EQ(seen.get_header_value("Content-Type"), row.contentType.value_or(""));
    EXPECT_FALSE(seen.has_header("Expect"));
  }
}

TEST_F(HttpExchangeTest, TargetIsTheObjectNameOrTheUrlPathWithoutItsQuery) {
  server_.server().Post(".*", [this](const httplib::Request& request, httplib::Response&) {
    recorder_.Record(request);
  });
  server_.Start();
  const std::string origin = "http://127.0.0.1:" + std::to_string(server_.port());
  const char kRaw[] = "acquvSrv/x y?q=a b\x01\xE9";  // and its zero byte

  struct Row {
    std::string url;
    std::optional<std::string> objectName;
    const char* target;
  };
  const Row rows[] = {
      {origin + "/acquvSrv/caChain?secret=1#part", std::nullopt, "/acquvSrv/caChain"},
      {"http://user:pw@127.0.0.1:" + std::to_string(server_.port()) + "/other?x=1",
       "/acquvSrv/verify?auth=AB&hash=CD", "/acquvSrv/verify?auth=AB&hash=CD"},
      {origin, "/acquvSrv/hint.htm", "/acquvSrv/hint.htm"},
      {origin, std::string(kRaw, sizeof(kRaw)), "/acquvSrv/x%20y?q=a%20b%01%E9%00"},
      {origin, std::nullopt, "/"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    HttpRequest request = Post(row.url);
    request.objectName = row.objectName;
    EXPECT_EQ(HttpExchange(request).outcome, Outcome::kOk);
    const httplib::Request seen = recorder_.last();
    // libcurl may write the hex digits of a percent escape in lower case.
    EXPECT_EQ(httplib::detail::decode_url(seen.target, false),
              httplib::detail::decode_url(row.target, false));
    EXPECT_FALSE(seen.has_header("Authorization"));
  }
}

TEST_F(HttpExchangeTest, UnsplittableUrlsAreRefusedBeforeAnyConnection) {
  const char* urls[] = {"",
                        "not a url",
                        "127.0.0.1/acquvSrv/caChain",
                        "ftp://127.0.0.1/chain",
                        "file:///etc/passwd",
                        "http://",
                        "http://exa mple.com/",
                        "http://127.0.0.1:99999/"};
  for (const char* url : urls) {
    SCOPED_TRACE(url);
    const HttpReply reply = HttpExchange(Post(url));
    EXPECT_EQ(reply.outcome, Outcome::kBadUrl);
    EXPECT_EQ(reply.statusCode, 0);
    EXPECT_TRUE(reply.data.empty());
  }
  EXPECT_EQ(HttpExchange(Post(std::string("http://127.0.0.1/\0x", 19))).outcome, Outcome::kBadUrl);
}

TEST_F(HttpExchangeTest, NobodyListeningIsAConnectionFailure) {
  uint16_t port = 0;
  close(Listen(1, port));
  const HttpReply reply = HttpExchange(Post("http://127.0.0.1:" + std::to_string(port) + "/"));
  EXPECT_EQ(reply.outcome, Outcome::kConnectFailed);
  EXPECT_EQ(reply.systemError, static_cast<uint32_t>(CURLE_COULDNT_CONNECT));
  EXPECT_FALSE(reply.systemErrorText.empty());
  EXPECT_EQ(reply.statusCode, 0);
}

TEST_F(HttpExchangeTest, ConnectionTimeOutEndsAnUnansweredConnect) {
  // A listener whose accept queue is full drops further connection attempts.
  uint16_t port = 0;
  const int listener = Listen(0, port);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    (void)connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
  }
  std::this_thread::sleep_for(milliseconds(100));

  HttpRequest request = Post("http://127.0.0.1:" + std::to_string(port) + "/");
  request.connectTimeoutMs = 300;
  const Clock::time_point start = Clock::now();
  const HttpReply reply = HttpExchange(request);
  const long elapsed = ElapsedMs(start);
  EXPECT_EQ(reply.outcome, Outcome::kConnectFailed);
  EXPECT_EQ(reply.systemError, static_cast<uint32_t>(CURLE_OPERATION_TIMEDOUT));
  EXPECT_GE(elapsed, 290);
  EXPECT_LT(elapsed, 2000);
  for (int fd : fillers) close(fd);
  close(listener);
}

TEST_F(HttpExchangeTest, ReceiveTimeOutFiresWhenNoByteArrivesForThatLong) {
  auto& http = server_.server();
  http.Post("/silent", [this](const httplib::Request&, httplib::Response& response) {
    gate_.Wait();
    response.set_content("too late", "text/plain");
  });
  http.Post("/part", [this](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink& sink) {
      sink.write("part", 4);
      gate_.Wait();
      return false;
    });
  });
  http.Post("/trickle", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
      for (char c = '1'; c <= '8'; ++c) {
        std::this_thread::sleep_for(milliseconds(120));
        sink.write(&c, 1);
      }
      sink.done();
      return true;
    });
  });
  server_.Start();

  struct Row {
    const char* path;
    bool cutBodyIsComplete;
    Outcome outcome;
    int32_t status;
    const char* body;
    long minMs;
    long maxMs;
  };
  const Row rows[] = {
      {"/silent", false, Outcome::kHttpStatus, 0, "", 300, 1500},
      {"/part", false, Outcome::kReadFailed, 200, "part", 300, 1500},
      {"/part", true, Outcome::kOk, 200, "part", 300, 1500},
      // Every byte starts the clock again: eight gaps shorter than the
      // time-out add up to far more than it.
      {"/trickle", false, Outcome::kOk, 200, "12345678", 900, 4000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    HttpRequest request = Post(server_.Url(row.path));
    request.receiveTimeoutMs = 300;
    request.cutBodyIsComplete = row.cutBodyIsComplete;
    const Clock::time_point start = Clock::now();
    const HttpReply reply = HttpExchange(request);
    const long elapsed = ElapsedMs(start);
    EXPECT_EQ(reply.outcome, row.outcome);
    EXPECT_EQ(reply.statusCode, row.status);
    EXPECT_EQ(BodyText(reply), row.body);
    ExpectBodyShape(reply);
    if (reply.outcome == Outcome::kReadFailed) {
      EXPECT_EQ(reply.systemError, static_cast<uint32_t>(CURLE_OPERATION_TIMEDOUT));
    }
    EXPECT_GE(elapsed, row.minMs);
    EXPECT_LT(elapsed, row.maxMs);
  }
}

TEST_F(HttpExchangeTest, DeadlineEndsTheExchangeHoweverTheServerTrickles) {
  EXPECT_EQ(HttpRequest().deadlineMs, 60000u);
  auto& http = server_.server();
  // One byte a second for half a minute: the receive clock never runs out.
  http.Post("/trickle", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
      for (int i = 0; i < 30; ++i) {
        if (!sink.write("x", 1)) return false;
        std::this_thread::sleep_for(std::chrono::seconds(1));
      }
      sink.done();
      return true;
    });
  });
  http.Post("/silent", [this](const httplib::Request&, httplib::Response& response) {
    gate_.Wait();
    response.set_content("too late", "text/plain");
  });
  server_.Start();

  struct Row {
    const char* path;
    bool cutBodyIsComplete;
    int32_t status;
  };
  const Row rows[] = {
      {"/trickle", false, 200},
      // What came before the deadline is not a body cut short.
      {"/trickle", true, 200},
      {"/silent", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.path) + (row.cutBodyIsComplete ? ", cut body complete" : ""));
    HttpRequest request = Post(server_.Url(row.path));
    request.deadlineMs = 2000;
    request.cutBodyIsComplete = row.cutBodyIsComplete;
    const Clock::time_point start = Clock::now();
    const HttpReply reply = HttpExchange(request);
    const long elapsed = ElapsedMs(start);
    EXPECT_EQ(reply.outcome, Outcome::kConnectFailed);
    EXPECT_EQ(reply.statusCode, row.status);
    EXPECT_EQ(reply.systemError, static_cast<uint32_t>(CURLE_OPERATION_TIMEDOUT));
    EXPECT_EQ(reply.systemErrorText, curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    EXPECT_EQ(reply.length, 0);
    EXPECT_TRUE(reply.data.empty());
    // Well before the receive time-out (5 s) or the trickle's end.
    EXPECT_GE(elapsed, 2000);
    EXPECT_LT(elapsed, 4500);
  }
}

TEST_F(HttpExchangeTest, RepliesPastTheCapEndAsFailedConnectionsHoldingNothing) {
  constexpr size_t kMiB = 1024 * 1024;
  EXPECT_EQ(HttpRequest().maxReplyBytes, kMiB);
  AddByteRoutes(server_.server());
  server_.Start();

  struct Row {
    size_t bytes;
    std::optional<size_t> cap;  // absent: the default
    const char* kind;
    Outcome outcome;
    int32_t status;
  };
  const Row rows[] = {
      {3 * kMiB, 64 * 1024, "announced", Outcome::kConnectFailed, 200},
      {3 * kMiB, 64 * 1024, "chunked", Outcome::kConnectFailed, 200},
      {kMiB + 1, std::nullopt, "announced", Outcome::kConnectFailed, 200},
      {kMiB + 1, std::nullopt, "chunked", Outcome::kConnectFailed, 200},
      {kMiB, std::nullopt, "announced", Outcome::kOk, 200},
      {kMiB, std::nullopt, "chunked", Outcome::kOk, 200},
      // A refusal stays a refusal, whatever length it announces.
      {3 * kMiB, 64 * 1024, "refused", Outcome::kHttpStatus, 404},
  };
  for (const Row& row : rows) {
    for (const bool cutBodyIsComplete : {false, true}) {
      std::string path = "/";
      path.append(row.kind).append("/").append(std::to_string(row.bytes));
      SCOPED_TRACE(path + (row.cap ? " over a small cap" : "") +
                   (cutBodyIsComplete ? ", cut body complete" : ""));
      HttpRequest request = Post(server_.Url(path));
      if (row.cap) request.maxReplyBytes = *row.cap;
      request.cutBodyIsComplete = cutBodyIsComplete;
      const HttpReply reply = HttpExchange(request);
      EXPECT_EQ(reply.outcome, row.outcome);
      EXPECT_EQ(reply.statusCode, row.status);
      // libcurl's own code and text for a transfer its receiver stopped.
      const bool stopped = row.outcome == Outcome::kConnectFailed;
      EXPECT_EQ(reply.systemError, stopped ? static_cast<uint32_t>(CURLE_WRITE_ERROR) : 0u);
      EXPECT_EQ(reply.systemErrorText.empty(), !stopped);
      const size_t kept = row.outcome == Outcome::kOk ? row.bytes : 0;
      EXPECT_EQ(static_cast<size_t>(reply.length), kept);
      EXPECT_TRUE(BodyText(reply) == std::string(kept, 'c'));
      ExpectBodyShape(reply);
    }
  }
}

// A process of its own asks for a 600 MiB chain under the default cap, so
// that its peak resident size shows what the refusal cost.
TEST_F(HttpExchangeTest, AHugeChainIsRefusedWithoutBeingHeld) {
  AddByteRoutes(server_.server());
  server_.Start();
  const std::string size = std::to_string(600ull * 1024 * 1024);
  for (const char* kind : {"chunked", "announced"}) {
    SCOPED_TRACE(kind);
    const test::CommandResult probe =
        test::Run(test::ShellQuote(QALV_HTTP_CAP_PROBE_PATH) + " " +
                  test::ShellQuote(server_.Url("/" + std::string(kind) + "/" + size)));
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    std::istringstream fields(probe.out);
    int outcome = -1;
    uint32_t systemError = 0;
    long peakKiB = 0;
    ASSERT_TRUE(fields >> outcome >> systemError >> peakKiB) << probe.out;
    EXPECT_EQ(outcome, static_cast<int>(Outcome::kConnectFailed));
    EXPECT_EQ(systemError, static_cast<uint32_t>(CURLE_WRITE_ERROR));
    // AddressSanitizer's own bookkeeping stays well inside this too.
    EXPECT_LT(peakKiB, 64 * 1024);
    RecordProperty(std::string("peakKiB-") + kind, static_cast<int>(peakKiB));
  }
}

TEST_F(HttpExchangeTest, LargeBodiesTravelWholeBothWays) {
  server_.server().Post("/echo", [this](const httplib::Request& request,
                                        httplib::Response& response) {
    recorder_.Record(request);
    response.set_content(request.body, "application/octet-stream");
  });
  server_.Start();

  std::string body(5 * 1024 * 1024 + 7, '\0');
  std::mt19937 random(7);
  for (char& c : body) c = static_cast<char>(random());
  HttpRequest request = Post(server_.Url("/echo"));
  request.headerLine = "Content-Type: application/qalv-acquv-vfytpk";
  request.body = reinterpret_cast<const uint8_t*>(body.data());
  request.bodyLength = body.size();
  request.maxReplyBytes = body.size();
  const HttpReply reply = HttpExchange(request);

  ASSERT_EQ(reply.outcome, Outcome::kOk);
  EXPECT_EQ(static_cast<size_t>(reply.length), body.size());
  EXPECT_TRUE(BodyText(reply) == body);
  ExpectBodyShape(reply);
  const httplib::Request seen = recorder_.last();
  EXPECT_TRUE(seen.body == body);
  EXPECT_FALSE(seen.has_header("Expect"));
}

TEST_F(HttpExchangeTest, HttpProxyFromTheEnvironmentCarriesTheRequest) {
  server_.server().Post(".*", [this](const httplib::Request& request,
                                     httplib::Response& response) {
    recorder_.Record(request);
    response.set_content("via proxy", "text/plain");
  });
  server_.Start();
  uint16_t deadPort = 0;
  close(Listen(1, deadPort));  // reachable only through the proxy
  const std::string target = "http://127.0.0.1:" + std::to_string(deadPort) + "/acquvSrv/caChain";
  const std::string proxy = "http://127.0.0.1:" + std::to_string(server_.port());
  EnvOverride env{{"http_proxy", proxy.c_str()}};

  const HttpReply reply = HttpExchange(Post(target + "?secret=1"));
  EXPECT_EQ(reply.outcome, Outcome::kOk);
  EXPECT_EQ(BodyText(reply), "via proxy");
  EXPECT_EQ(recorder_.last().target, target);
}

TEST_F(HttpExchangeTest, HttpsTrustsOnlyTheCaTheEnvironmentNames) {
  const test::TlsFiles& tls = test::Tls();
  httplib::SSLServer https(tls.cert.c_str(), tls.key.c_str());
  ASSERT_TRUE(https.is_valid());
  https.Post("/acquvSrv/caChain", [this](const httplib::Request& request,
                                         httplib::Response& response) {
    recorder_.Record(request);
    response.set_content("secure chain", "text/plain");
  });
  Serving serving(https);
  const std::string port = std::to_string(serving.port());

  struct Row {
    const char* name;
    const char* bundle;    // CURL_CA_BUNDLE
    const char* certFile;  // SSL_CERT_FILE
    const char* host;
    Outcome outcome;
    uint32_t systemError;
  };
  const Row rows[] = {
      {"test CA as SSL_CERT_FILE", nullptr, tls.ca.c_str(), "127.0.0.1", Outcome::kOk, 0},
      {"CURL_CA_BUNDLE before SSL_CERT_FILE", tls.ca.c_str(), tls.otherCa.c_str(), "127.0.0.1",
       Outcome::kOk, 0},
      {"unrelated CA of the same name", nullptr, tls.otherCa.c_str(), "127.0.0.1",
       Outcome::kConnectFailed, CURLE_PEER_FAILED_VERIFICATION},
      {"the system's trust anchors", nullptr, nullptr, "127.0.0.1", Outcome::kConnectFailed,
       CURLE_PEER_FAILED_VERIFICATION},
      {"name not in the certificate", nullptr, tls.ca.c_str(), "localhost",
       Outcome::kConnectFailed, CURLE_PEER_FAILED_VERIFICATION},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EnvOverride env{{"CURL_CA_BUNDLE", row.bundle}, {"SSL_CERT_FILE", row.certFile},
                    {"SSL_CERT_DIR", nullptr}};
    const int before = recorder_.count();
    const HttpReply reply =
        HttpExchange(Post("https://" + std::string(row.host) + ":" + port + "/acquvSrv/caChain"));
    EXPECT_EQ(reply.outcome, row.outcome);
    EXPECT_EQ(reply.systemError, row.systemError);
    const bool ok = row.outcome == Outcome::kOk;
    EXPECT_EQ(BodyText(reply), ok ? "secure chain" : "");
    EXPECT_EQ(recorder_.count(), before + (ok ? 1 : 0));  // a refused server hears nothing
  }
}

TEST_F(HttpExchangeTest, ReferenceServerRefusesRequestBodiesPastItsCap) {
  constexpr size_t kDefaultCap = 64 * 1024 * 1024;
  test::TempDir dir;
  std::filesystem::create_directories(dir / "data");
  const auto start = [&](const std::string& log, std::vector<std::string> options) {
    std::vector<std::string> argv = {test::ServicesPath(), "--data", (dir / "data").string()};
    argv.insert(argv.end(), options.begin(), options.end());
    return std::make_unique<test::BackgroundProcess>(argv, dir / log);
  };
  const auto small = start("small.log", {"--max-body", "1000"});
  const auto standard = start("standard.log", {});
  ASSERT_EQ(small->firstLine().rfind("http://127.0.0.1:", 0), 0u) << small->firstLine();
  ASSERT_EQ(standard->firstLine().rfind("http://127.0.0.1:", 0), 0u) << standard->firstLine();

  struct Row {
    const char* name;
    const test::BackgroundProcess& server;
    size_t bytes;
    bool chunked;
    int status;
  };
  const Row rows[] = {
      {"at a small cap", *small, 1000, false, 200},
      {"past a small cap", *small, 1001, false, 413},
      {"chunked, at a small cap", *small, 1000, true, 200},
      {"chunked, past a small cap", *small, 1001, true, 413},
      {"chunked, far past a small cap", *small, 16 * 1024 * 1024, true, 413},
      {"at the default cap", *standard, kDefaultCap, false, 200},
      {"past the default cap", *standard, kDefaultCap + 1, false, 413},
      {"chunked, past the default cap", *standard, kDefaultCap + 1, true, 413},
  };
  const std::string body(kDefaultCap + 1, 'x');  // no batch number: still a 200 answer
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int status = 0;
    if (row.chunked) {
      httplib::Client client(row.server.firstLine());
      const httplib::Result result = client.Post(
          "/acquvSrv/hint.htm",
          [&](size_t offset, httplib::DataSink& sink) {
            if (offset == row.bytes) {
              sink.done();
              return true;
            }
            return sink.write(body.data(), std::min<size_t>(64 * 1024, row.bytes - offset));
          },
          "application/x-www-form-urlencoded");
      ASSERT_TRUE(result) << httplib::to_string(result.error());
      status = result->status;
    } else {
      HttpRequest request = Post(row.server.firstLine() + "/acquvSrv/hint.htm");
      request.body = reinterpret_cast<const uint8_t*>(body.data());
      request.bodyLength = row.bytes;
      status = HttpExchange(request).statusCode;
    }
    EXPECT_EQ(status, row.status);
  }
}

}  // namespace
}  // namespace qalv
