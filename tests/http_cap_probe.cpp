// http_cap_probe URL
// Asks for a chain at URL as the chain update does (default reply cap and
// deadline) and prints the outcome, the libcurl code and this process's peak
// resident size in KiB, so that a test can see how much a refused reply cost.
#include <sys/resource.h>

#include <cstdio>

#include "net/http_exchange.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: http_cap_probe URL\n");
    return 2;
  }
  static const char kBody[] = "auth=00&aki=00";
  qalv::HttpRequest request;
  request.url = argv[1];
  request.connectTimeoutMs = 5000;
  request.headerLine = "Content-Type: application/x-www-form-urlencoded";
  request.body = reinterpret_cast<const uint8_t*>(kBody);
  request.bodyLength = sizeof(kBody) - 1;
  request.cutBodyIsComplete = true;
  const qalv::HttpReply reply = qalv::HttpExchange(request);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%d %u %ld\n", static_cast<int>(reply.outcome), reply.systemError, usage.ru_maxrss);
  return 0;
}
