// The platform layer: whole-file reads, package text decoding and the hex
// dump format that trace readers rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_io.h"
#include "platform/system_error.h"
#include "platform/trace.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

using Bytes = test::Bytes;

TEST(ReadWholeFile, ReadsAndReportsEachOutcome) {
  test::TempDir dir;
  const Bytes content{0x00, 0xFF, 0x10, 0x00};
  test::WriteFile(dir / "file", content);
  test::WriteFile(dir / "empty", Bytes{});

  SecureBuffer bytes;
  ASSERT_EQ(ReadWholeFile(dir / "file", bytes), 0);
  EXPECT_EQ(Bytes(bytes.data(), bytes.data() + bytes.size()), content);
  ASSERT_EQ(ReadWholeFile(dir / "empty", bytes), 0);
  EXPECT_TRUE(bytes.empty());

  SecureBuffer untouched;
  ASSERT_TRUE(untouched.Assign(content.data(), content.size()));
  EXPECT_EQ(ReadWholeFile(dir / "missing", untouched), file_io::kNotFound);
  EXPECT_EQ(ReadWholeFile(dir.path(), untouched), file_io::kFailed) << "a folder is not a file";
  EXPECT_EQ(untouched.size(), content.size()) << "a failed read leaves the buffer alone";
}

TEST(WriteWholeFile, WritesEveryByteOrFails) {
  test::TempDir dir;
  const Bytes content{1, 2, 3};
  ASSERT_EQ(WriteWholeFile(dir / "out", content.data(), content.size()), 0);
  EXPECT_EQ(test::ReadFile(dir / "out"), content);
  const Bytes shorter{9};
  ASSERT_EQ(WriteWholeFile(dir / "out", shorter.data(), shorter.size()), 0);
  EXPECT_EQ(test::ReadFile(dir / "out"), shorter) << "a longer old file leaves no tail";
  ASSERT_EQ(WriteWholeFile(dir / "out", nullptr, 0), 0);
  EXPECT_TRUE(test::ReadFile(dir / "out").empty());
  EXPECT_EQ(WriteWholeFile(dir / "no-such-folder" / "out", content.data(), content.size()),
            file_io::kFailed);
}

// The errors a user meets most read in Chinese with their number in
// parentheses, exactly as the messages show them; any other number falls back
// to one general text.
TEST(SystemErrorTextTest, NamesTheErrorInChineseWithItsNumber) {
  const struct {
    int number;
    const char* shown;
  } rows[] = {
      {ENOSPC, "磁碟空間不足(28)"}, {EACCES, "沒有權限(13)"}, {EROFS, "磁碟為唯讀(30)"},
      {EIO, "磁碟讀寫錯誤(5)"},     {EXDEV, "系統錯誤(18)"},   {0, "系統錯誤(0)"},
  };
  for (const auto& row : rows) EXPECT_EQ(SystemErrorText(row.number), row.shown) << row.number;
}

struct TextCase {
  const char* name;
  Bytes bytes;
  std::string text;
};

class PackageTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(PackageTextTest, Decodes) {
  EXPECT_EQ(PackageTextToUtf8(GetParam().bytes), GetParam().text);
}

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

INSTANTIATE_TEST_SUITE_P(
    Texts, PackageTextTest,
    testing::Values(
        TextCase{"Ascii", Of("BATCH-01"), "BATCH-01"},
        TextCase{"Utf8", Of("本保單僅供測試"), "本保單僅供測試"},
        TextCase{"CodePage950", {0xB4, 0xFA, 0xB8, 0xD5}, "測試"},
        TextCase{"CodePage950WithAscii", {'A', 0xA4, 0xA4, 'B'}, "A中B"},
        // Neither encoding: shown with replacement characters, never dropped.
        TextCase{"Neither", {'a', 0xFF, 'b'}, "a\xEF\xBF\xBD" "b"},
        TextCase{"Empty", {}, ""}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(SecureBuffer, LargeAndSmallBlocksStartZeroed) {
  for (const size_t size : {size_t{1}, size_t{4096}, size_t{3} << 20}) {
    SecureBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(size));
    ASSERT_EQ(buffer.size(), size);
    EXPECT_TRUE(std::all_of(buffer.data(), buffer.data() + size, [](uint8_t b) { return b == 0; }));
    buffer.data()[size - 1] = 0xAA;  // the whole block is writable
  }
}

TEST(IsValidUtf8, RefusesIllFormedSequences) {
  EXPECT_TRUE(IsValidUtf8(Of("\xF0\x9F\x98\x80")));
  EXPECT_FALSE(IsValidUtf8(Bytes{0xC0, 0xAF}));        // overlong "/"
  EXPECT_FALSE(IsValidUtf8(Bytes{0xED, 0xA0, 0x80}));  // surrogate
  EXPECT_FALSE(IsValidUtf8(Bytes{0xF4, 0x90, 0x80, 0x80}));  // past U+10FFFF
  EXPECT_FALSE(IsValidUtf8(Bytes{0xE6, 0xB8}));        // cut short
}

TEST(Trace, DumpsBytesAsUpperCaseHexPairs) {
  std::string debug;
  trace::SetDebugSink([&debug](std::string_view text) { debug.append(text); });
  const Bytes bytes{0x00, 0xAB, 0x7F};
  trace::Dump(bytes.data(), bytes.size());
  trace::Dump(nullptr, 0);
  trace::Debug("len=%d\n", 42);
  trace::SetDebugSink({});
  trace::Dump(bytes.data(), bytes.size());
  EXPECT_EQ(debug, "[00,AB,7F]\n[]\nlen=42\n");
}

}  // namespace
}  // namespace qalv
