// Document decryption over ciphers made by the package writer and by
// OpenSSL's AES-256-CBC, including hand-made plaintexts for every refusal.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "package/decryption.h"
#include "session/policy_state.h"
#include "tests/support/test_support.h"
#include "writer/package_writer.h"

namespace qalv {
namespace {

using test::Bytes;

constexpr char kVerifyFailed[] = "解密驗證錯誤";
constexpr char kDecryptFailed[] = "解密失敗";

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Document(size_t length) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  return bytes;
}

// OpenSSL's AES-256-CBC with a zero IV under SHA-256 of the password; with
// `pad`, OpenSSL adds the PKCS #7 padding itself.
Bytes OpenSslCbc(const std::string& password, const Bytes& plaintext, bool pad) {
  const std::string key = test::Hex(test::OpenSsl("dgst -sha256 -binary", Of(password)));
  return test::OpenSsl("enc -aes-256-cbc -K " + key + " -iv " + std::string(32, '0') +
                           (pad ? "" : " -nopad"),
                       plaintext);
}

Bytes Marked(const Bytes& document) { return Concat(document, Of("QALV")); }

struct Case {
  const char* name;
  std::function<Bytes()> cipher;
  int32_t code;
  const char* message;
  Bytes document;  // when code is 0
};

class DecryptTest : public testing::TestWithParam<Case> {};

TEST_P(DecryptTest, DecryptsOrRefusesWithItsCode) {
  const Case& c = GetParam();
  const Bytes cipher = c.cipher();
  PolicyState state;
  std::string message;
  // Every row starts over an earlier document, which must not survive.
  const Bytes earlier = writer::EncryptDocument(Document(40), "earlier");
  ASSERT_EQ(DecryptDocument("earlier", earlier.data(), earlier.size(), {state.pdfData, state.pdfLength, state.decryptState}, message), 0);

  const int32_t code = DecryptDocument("pw", cipher.data(), cipher.size(), {state.pdfData, state.pdfLength, state.decryptState}, message);
  EXPECT_EQ(code, c.code);
  EXPECT_EQ(state.pdfData.size(), cipher.size()) << "the record keeps the whole plaintext's room";
  if (c.code == 0) {
    EXPECT_EQ(state.decryptState, 0);
    ASSERT_EQ(state.pdfLength, static_cast<int32_t>(c.document.size()));
    EXPECT_EQ(Bytes(state.pdfData.data(), state.pdfData.data() + state.pdfLength), c.document);
  } else {
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(state.decryptState, -1);
    EXPECT_EQ(state.pdfLength, 0);
  }
}

// A plaintext of whole blocks, encrypted by OpenSSL as it is.
std::function<Bytes()> Block(Bytes plaintext) {
  return [plaintext] { return OpenSslCbc("pw", plaintext, false); };
}

INSTANTIATE_TEST_SUITE_P(
    Ciphers, DecryptTest,
    testing::Values(
        // A 12-byte document and its marker fill a block: a whole block of
        // padding follows. 24 bytes and the marker take four bytes of 0x04.
        Case{"WriterTwelveBytes", [] { return writer::EncryptDocument(Document(12), "pw"); }, 0,
             "", Document(12)},
        Case{"WriterTwentyFourBytes", [] { return writer::EncryptDocument(Document(24), "pw"); },
             0, "", Document(24)},
        Case{"WriterEmptyDocument", [] { return writer::EncryptDocument({}, "pw"); }, 0, "", {}},
        Case{"WriterLongDocument", [] { return writer::EncryptDocument(Document(5000), "pw"); },
             0, "", Document(5000)},
        Case{"OpenSslPadded", [] { return OpenSslCbc("pw", Marked(Document(100)), true); }, 0,
             "", Document(100)},
        Case{"SixteenPaddingBytesDiffer",
             Block(Concat(Concat(Marked(Document(12)), Bytes{0x0F}), Bytes(15, 0x10))),
             decrypt::kPaddingBytes, kVerifyFailed, {}},
        Case{"Cipher15", [] { return Bytes(15, 0x01); }, decrypt::kNotWholeBlocks,
             kDecryptFailed, {}},
        Case{"Cipher17", [] { return Bytes(17, 0x01); }, decrypt::kNotWholeBlocks,
             kDecryptFailed, {}},
        Case{"NoCipher", [] { return Bytes{}; }, decrypt::kMarker, kVerifyFailed, {}},
        Case{"LastByteSeventeen", Block(Concat(Bytes(15, 0x11), Bytes{0x11})),
             decrypt::kPaddingValue, kVerifyFailed, {}},
        Case{"LastByteFF", Block(Concat(Marked(Document(11)), Bytes{0xFF})),
             decrypt::kPaddingValue, kVerifyFailed, {}},
        Case{"PaddingBytesDiffer", Block(Concat(Marked(Document(9)), Bytes{0x03, 0x02, 0x03})),
             decrypt::kPaddingBytes, kVerifyFailed, {}},
        Case{"PaddingLongerThanItsRun",
             Block(Concat(Marked(Document(2)), Bytes{0x09, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A,
                                                     0x0A, 0x0A, 0x0A})),
             decrypt::kPaddingBytes, kVerifyFailed, {}},
        Case{"LastByteZero", Block(Concat(Marked(Document(11)), Bytes{0x00})), decrypt::kMarker,
             kVerifyFailed, {}},
        Case{"MarkerMissing", Block(Concat(Concat(Document(8), Of("QALX")), Bytes(4, 0x04))),
             decrypt::kMarker, kVerifyFailed, {}},
        Case{"SixteenTimesSixteen", Block(Bytes(16, 0x10)), decrypt::kMarker, kVerifyFailed, {}},
        Case{"MarkerCutShort", Block(Concat(Of("ALV"), Bytes(13, 0x0D))), decrypt::kMarker,
             kVerifyFailed, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecryptDocument, UsesTheWholePasswordHoweverLong) {
  std::string password;
  for (int i = 0; i < 5; ++i) password += "保單密碼";
  ASSERT_EQ(password.size(), 60u);
  const std::string first50 = password.substr(0, 50);
  const Bytes document = Document(300);
  struct Case {
    Bytes cipher;
    std::string password;
    bool opens;
  };
  const std::vector<Case> cases = {
      {OpenSslCbc(password, Marked(document), true), password, true},
      {writer::EncryptDocument(document, password), password, true},
      {writer::EncryptDocument(document, password), first50, false},
      {writer::EncryptDocument(document, first50), password, false},
      {OpenSslCbc("", Marked(document), true), "", true},
  };
  for (const Case& c : cases) {
    PolicyState state;
    std::string message;
    const int32_t code =
        DecryptDocument(c.password, c.cipher.data(), c.cipher.size(), {state.pdfData, state.pdfLength, state.decryptState}, message);
    if (c.opens) {
      EXPECT_EQ(code, 0) << c.password.size() << "-byte password";
      EXPECT_EQ(Bytes(state.pdfData.data(), state.pdfData.data() + state.pdfLength), document);
    } else {
      EXPECT_GE(code, decrypt::kPaddingValue) << c.password.size() << "-byte password";
      EXPECT_LE(code, decrypt::kMarker);
    }
  }
}

TEST(DecryptDocument, DecryptStateFollowsTheLastDecryption) {
  PolicyState state;
  EXPECT_EQ(state.decryptState, -1);
  std::string message;
  const Bytes first = writer::EncryptDocument(Document(30), "a");
  const Bytes second = writer::EncryptDocument(Document(50), "b");

  ASSERT_EQ(DecryptDocument("a", first.data(), first.size(), {state.pdfData, state.pdfLength, state.decryptState}, message), 0);
  EXPECT_EQ(state.decryptState, 0);
  EXPECT_EQ(state.pdfLength, 30);
  EXPECT_NE(DecryptDocument("a", second.data(), second.size(), {state.pdfData, state.pdfLength, state.decryptState}, message), 0);
  EXPECT_EQ(state.decryptState, -1);
  EXPECT_EQ(state.pdfLength, 0);
  ASSERT_EQ(DecryptDocument("b", second.data(), second.size(), {state.pdfData, state.pdfLength, state.decryptState}, message), 0);
  EXPECT_EQ(state.decryptState, 0);
  EXPECT_EQ(Bytes(state.pdfData.data(), state.pdfData.data() + state.pdfLength), Document(50));
}

TEST(DecryptDocument, RefusesACipherBeyondWhatTheRecordCanMeasure) {
  // Refused on its length alone: no byte is read and nothing is allocated.
  const Bytes cipher(16, 0);
  PolicyState state;
  std::string message;
  EXPECT_EQ(DecryptDocument("pw", cipher.data(), size_t{1} << 31, {state.pdfData, state.pdfLength, state.decryptState}, message),
            decrypt::kNotWholeBlocks);
  EXPECT_EQ(message, kDecryptFailed);
  EXPECT_TRUE(state.pdfData.empty());
}

}  // namespace
}  // namespace qalv
