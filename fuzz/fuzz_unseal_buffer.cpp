// Fuzzes unsealing, and checks that whatever is sealed unseals to itself and
// that no changed byte of a seal goes unnoticed.
//   byte 0: length k of the key text (capped to what follows);
//   the next k bytes: the key text (up to its first zero byte);
//   the rest: the sealed bytes, and also the plaintext of the round trip.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sealed_storage.h"

namespace {

using qalv::seal::kOverhead;

void Check(bool condition) {
  if (!condition) std::abort();
}

void UnsealGiven(const uint8_t* sealed, size_t m, const char* key) {
  std::vector<uint8_t> plain(std::max<size_t>(m, 1), 0xA5);
  size_t length = m;
  const int32_t result = qalv::UnsealBuffer(sealed, m, key, plain.data(), length);
  if (m < kOverhead) {
    Check(result == qalv::seal::kSealedTooShort);
  } else {
    Check(result == 0 || result == qalv::seal::kDigestMismatch);
    Check(length == (result == 0 ? m - kOverhead : m));
  }
}

// `where` picks the flipped byte as a fraction (where / 256) of the seal.
void RoundTrip(const uint8_t* plaintext, size_t n, const char* key, uint8_t where) {
  std::vector<uint8_t> sealed(n + kOverhead);
  size_t length = sealed.size();
  Check(qalv::SealBuffer(plaintext, n, key, sealed.data(), length) == 0);
  Check(length == n + kOverhead);

  std::vector<uint8_t> plain(sealed.size());
  length = plain.size();
  Check(qalv::UnsealBuffer(sealed.data(), sealed.size(), key, plain.data(), length) == 0);
  Check(length == n && std::memcmp(plain.data(), plaintext, n) == 0);

  length = plain.size() - 1;
  Check(qalv::UnsealBuffer(sealed.data(), sealed.size(), key, plain.data(), length) ==
        qalv::seal::kOutputTooSmall);

  sealed[where * sealed.size() / 256] ^= 0x01;
  length = plain.size();
  Check(qalv::UnsealBuffer(sealed.data(), sealed.size(), key, plain.data(), length) ==
        qalv::seal::kDigestMismatch);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const size_t k = std::min<size_t>(input[0], size - 1);
  const std::string key(reinterpret_cast<const char*>(input + 1), k);
  const uint8_t* rest = input + 1 + k;
  const size_t restLength = size - 1 - k;

  UnsealGiven(rest, restLength, key.c_str());
  if (restLength != 0) RoundTrip(rest, restLength, key.c_str(), input[size - 1]);
  return 0;
}
