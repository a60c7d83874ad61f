// The codes for exhausted memory, reached for real: each case runs in a child
// process whose address space is capped just above what it already uses, so
// the operation's own large allocation fails.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <functional>
#include <string>

#include "net/http_exchange.h"
#include "package/decryption.h"
#include "platform/sealed_storage.h"
#include "session/policy_state.h"
#include "tests/support/local_server.h"

namespace qalv {
namespace {

constexpr size_t kLarge = 256u << 20;  // far above the head room below
constexpr size_t kHeadRoom = 32u << 20;

// Caps the address space at what the process maps now plus kHeadRoom.
bool CapAddressSpace() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return false;
  unsigned long pages = 0;
  const bool read = std::fscanf(statm, "%lu", &pages) == 1;
  std::fclose(statm);
  if (!read) return false;
  const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + kHeadRoom;
  const rlimit cap{limit, limit};
  return setrlimit(RLIMIT_AS, &cap) == 0;
}

// Runs `operation` in a child under the cap; the child exits 0 when the
// expected code came back.
void ExpectCodeUnderCap(const std::function<int32_t()>& operation, int32_t expected) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than any cap allows";
#endif
  EXPECT_EXIT(
      {
        if (!CapAddressSpace()) std::_Exit(2);
        std::_Exit(operation() == expected ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(OutOfMemory, DecryptionReportsItWithTheSystemText) {
  // The cipher is a view: only the document buffer is allocated, after the cap.
  static const uint8_t* const cipher = static_cast<const uint8_t*>(
      std::calloc(kLarge, 1));
  ASSERT_NE(cipher, nullptr);
  ExpectCodeUnderCap(
      [] {
        PolicyState state;
        std::string message;
        const int32_t code = DecryptDocument("pw", cipher, kLarge, {state.pdfData, state.pdfLength, state.decryptState}, message);
        // "%s(%d)" with the C library's text and the error number.
        char number[16];
        std::snprintf(number, sizeof number, "(%d)", ENOMEM);
        const bool worded = message.ends_with(number) &&
                            message.size() > 4 && state.decryptState == -1;
        return worded ? code : -1;
      },
      decrypt::kNoMemory);
}

TEST(OutOfMemory, SealingReportsIt) {
  static uint8_t* const plaintext = static_cast<uint8_t*>(std::calloc(kLarge, 1));
  static uint8_t* const output = static_cast<uint8_t*>(std::calloc(kLarge + seal::kOverhead, 1));
  ASSERT_NE(plaintext, nullptr);
  ASSERT_NE(output, nullptr);
  ExpectCodeUnderCap(
      [] {
        size_t length = kLarge + seal::kOverhead;
        return SealBuffer(plaintext, kLarge, "KEY", output, length);
      },
      seal::kNoMemory);
}

TEST(OutOfMemory, HttpExchangeKeepsWhatArrived) {
  test::LocalServer server;
  server.server().Post("/big", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(
        kLarge, "application/octet-stream",
        [](size_t offset, size_t length, httplib::DataSink& sink) {
          static const std::string chunk(64 * 1024, 'x');
          sink.write(chunk.data(), std::min(length, chunk.size()));
          return offset < kLarge;
        });
  });
  server.Start();
  static std::string url;
  url = server.Url("/big");
  ExpectCodeUnderCap(
      [] {
        HttpRequest request;
        request.url = url;
        request.connectTimeoutMs = 2000;
        request.maxReplyBytes = kLarge;
        const HttpReply reply = HttpExchange(request);
        const bool kept = reply.length > 0 && static_cast<size_t>(reply.length) < kLarge;
        return reply.outcome == HttpReply::Outcome::kNoMemory && kept ? 0 : -1;
      },
      0);
}

}  // namespace
}  // namespace qalv
