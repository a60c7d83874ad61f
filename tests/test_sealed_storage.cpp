// The hex encoder and the sealed-file format. The format is stored on disk,
// so it is checked byte for byte against OpenSSL's AES-256-CTR and SHA-256.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sealed_storage.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

using test::Bytes;

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Slice(const Bytes& bytes, size_t from, size_t length) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Sha256(const Bytes& data) { return test::OpenSsl("dgst -sha256 -binary", data); }

// OpenSSL's AES-256-CTR under SHA-256 of the key text from `counter`; the
// same operation encrypts and decrypts.
Bytes OpenSslCtr(const std::string& keyText, const Bytes& counter, const Bytes& data) {
  return test::OpenSsl("enc -aes-256-ctr -K " + test::Hex(Sha256(Of(keyText))) + " -iv " +
                           test::Hex(counter),
                       data);
}

Bytes Seal(const Bytes& plaintext, const std::string& keyText) {
  Bytes sealed(plaintext.size() + seal::kOverhead);
  size_t length = sealed.size();
  EXPECT_EQ(SealBuffer(plaintext.data(), plaintext.size(), keyText.c_str(), sealed.data(), length),
            0);
  EXPECT_EQ(length, sealed.size());
  return sealed;
}

// The code, and the plaintext when it is 0.
struct Unsealed {
  int32_t code = -1;
  Bytes plaintext;
};

Unsealed Unseal(const Bytes& sealed, const std::string& keyText) {
  Bytes output(sealed.size(), 0xEE);
  size_t length = output.size();
  Unsealed result;
  result.code = UnsealBuffer(sealed.data(), sealed.size(), keyText.c_str(), output.data(), length);
  if (result.code == 0) {
    result.plaintext = Slice(output, 0, length);
    EXPECT_EQ(Slice(output, length, 32), Bytes(32, 0)) << "the decrypted digest is wiped";
  } else {
    EXPECT_EQ(length, output.size()) << "a refusal leaves the length alone";
    EXPECT_EQ(Slice(output, 0, output.size() - 16), Bytes(output.size() - 16, 0))
        << "nothing unproven reaches the caller";
  }
  return result;
}

TEST(HexUpper, EncodesUpperCaseAndClearsItsOutput) {
  struct Case {
    Bytes bytes;
    std::string text;
  };
  Bytes every(256);
  for (size_t i = 0; i < every.size(); ++i) every[i] = static_cast<uint8_t>(i);
  const Bytes longest(seal::kMaxHexInput, 0x5A);
  const std::vector<Case> cases = {
      {{0x00, 0xAB, 0x9F}, "00AB9F"},
      {{}, ""},
      {every, test::Hex(every)},
      {longest, test::Hex(longest)},
  };
  for (const Case& c : cases) {
    const size_t size = 2 * c.bytes.size() + 2;
    std::vector<char> output(size + 3, 'Z');
    ASSERT_EQ(HexUpper(c.bytes.data(), c.bytes.size(), output.data()), 0);
    EXPECT_EQ(std::string(output.data()), c.text);
    EXPECT_EQ(output[size - 2], '\0');
    EXPECT_EQ(output[size - 1], '\0') << "the whole 2 * count + 2 bytes are cleared";
    EXPECT_EQ(std::string(output.begin() + static_cast<std::ptrdiff_t>(size), output.end()), "ZZZ")
        << "nothing beyond them is touched";
  }
}

TEST(HexUpper, RefusesWhatItCannotEncode) {
  const Bytes tooLong(seal::kMaxHexInput + 1, 0x01);
  std::vector<char> output(2 * tooLong.size() + 2, 'Z');
  EXPECT_EQ(HexUpper(tooLong.data(), 3, nullptr), seal::kNoHexOutput);
  EXPECT_EQ(HexUpper(tooLong.data(), tooLong.size(), output.data()), seal::kNoHexOutput);
  EXPECT_EQ(HexUpper(nullptr, 3, output.data()), seal::kNoHexOutput);
  EXPECT_EQ(output.front(), 'Z') << "a refusal writes nothing";
}

// Each row breaks arguments; where several are broken the earlier check wins.
struct ArgumentCase {
  const char* name;
  bool noKey;
  bool noInput;
  size_t inputLength;
  size_t capacity;
  int32_t sealCode;    // SealBuffer with the input as plaintext
  int32_t unsealCode;  // UnsealBuffer with the input as sealed data
};

class ArgumentTest : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTest, RefusedWithItsCode) {
  const ArgumentCase& c = GetParam();
  const Bytes input(100, 0x42);
  Bytes output(200, 0x33);
  const char* key = c.noKey ? nullptr : "key";
  const uint8_t* data = c.noInput ? nullptr : input.data();

  size_t length = c.capacity;
  EXPECT_EQ(SealBuffer(data, c.inputLength, key, output.data(), length), c.sealCode);
  EXPECT_EQ(length, c.capacity);
  length = c.capacity;
  EXPECT_EQ(UnsealBuffer(data, c.inputLength, key, output.data(), length), c.unsealCode);
  EXPECT_EQ(length, c.capacity);
  EXPECT_EQ(output, Bytes(200, 0x33)) << "refused before any byte is written";
}

INSTANTIATE_TEST_SUITE_P(
    Seal, ArgumentTest,
    testing::Values(
        ArgumentCase{"NoKeyText", true, true, 0, 0, seal::kNoKeyText, seal::kNoKeyText},
        ArgumentCase{"NoInput", false, true, 0, 0, seal::kNoPlaintext, seal::kNoSealedData},
        ArgumentCase{"EmptyInput", false, false, 0, 0, seal::kEmptyPlaintext,
                     seal::kSealedTooShort},
        ArgumentCase{"FortySevenBytes", false, false, 47, 0, seal::kOutputTooSmall,
                     seal::kSealedTooShort},
        ArgumentCase{"CapacityOneShort", false, false, 100, 99, seal::kOutputTooSmall,
                     seal::kOutputTooSmall}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SealBuffer, NeedsRoomForPlaintextAndFortyEightBytes) {
  const Bytes plain(47, 0x42);
  Bytes output(95);
  size_t length = 94;
  EXPECT_EQ(SealBuffer(plain.data(), plain.size(), "key", output.data(), length),
            seal::kOutputTooSmall);
  length = 95;
  ASSERT_EQ(SealBuffer(plain.data(), plain.size(), "key", output.data(), length), 0);
  EXPECT_EQ(length, 95u);
}

TEST(SealBuffer, OneByteRoundTripsOnlyUnderItsOwnKeyText) {
  const Bytes sealed = Seal({0x41}, "0A1B2C");
  ASSERT_EQ(sealed.size(), 49u);
  const Unsealed back = Unseal(sealed, "0A1B2C");
  EXPECT_EQ(back.code, 0);
  EXPECT_EQ(back.plaintext, Bytes{0x41});
  for (const char* other : {"0A1B2D", "0a1b2c", "", "0A1B2C "}) {
    EXPECT_EQ(Unseal(sealed, other).code, seal::kDigestMismatch) << other;
  }
}

TEST(SealBuffer, EveryChangedByteIsCaught) {
  const Bytes sealed = Seal(Of("a stored CA chain file"), "9F8E7D");
  for (size_t i = 0; i < sealed.size(); ++i) {
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      Bytes changed = sealed;
      changed[i] ^= mask;
      EXPECT_EQ(Unseal(changed, "9F8E7D").code, seal::kDigestMismatch)
          << "byte " << i << " mask " << int{mask};
    }
  }
  EXPECT_NE(Unseal(Slice(sealed, 1, sealed.size() - 1), "9F8E7D").code, 0) << "cut in front";
}

TEST(SealBuffer, LayoutIsCtrOfPlaintextAndDigestThenCounterBlock) {
  struct Case {
    std::string key;
    size_t length;
  };
  const std::vector<Case> cases = {
      {"0A1B2C3D", 1}, {"", 15}, {"憑證鏈", 16}, {"k", 17}, {"AKI", 1000}};
  for (const Case& c : cases) {
    Bytes plain(c.length);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7 + 3);
    const Bytes sealed = Seal(plain, c.key);
    ASSERT_EQ(sealed.size(), c.length + 48);
    const Bytes counter = Slice(sealed, c.length + 32, 16);
    EXPECT_EQ(OpenSslCtr(c.key, counter, Slice(sealed, 0, c.length + 32)),
              Concat(plain, Sha256(plain)))
        << "key " << c.key << ", " << c.length << " bytes";
  }
}

TEST(UnsealBuffer, OpensSealsMadeByOpenSsl) {
  struct Case {
    std::string key;
    std::string plain;
    Bytes counter;
  };
  // The counters make the 128-bit increment carry across both halves and
  // wrap around to zero.
  const std::vector<Case> cases = {
      {"0A1B2C", "chain", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      {"seed", std::string(100, 'c'), Concat(Bytes(8, 0x00), Concat(Bytes(7, 0xFF), {0xFE}))},
      {"seed", std::string(70, 'w'), Bytes(16, 0xFF)},
      {"empty plaintext", "", Bytes(16, 0x22)},
  };
  for (const Case& c : cases) {
    const Bytes plain = Of(c.plain);
    const Bytes sealed =
        Concat(OpenSslCtr(c.key, c.counter, Concat(plain, Sha256(plain))), c.counter);
    const Unsealed back = Unseal(sealed, c.key);
    EXPECT_EQ(back.code, 0) << test::Hex(c.counter);
    EXPECT_EQ(back.plaintext, plain) << test::Hex(c.counter);
  }
}

TEST(SealBuffer, NoTwoSealsShareACounterBlock) {
  const Bytes plain = Of("same plaintext, same key, same second");
  const Bytes first = Seal(plain, "key");
  const Bytes second = Seal(plain, "key");
  EXPECT_NE(Slice(first, plain.size() + 32, 16), Slice(second, plain.size() + 32, 16));
  EXPECT_NE(Slice(first, 0, plain.size()), Slice(second, 0, plain.size()))
      << "and so no key stream";
}

}  // namespace
}  // namespace qalv
