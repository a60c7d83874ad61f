// The package format's element rules on hand-written elements: what each
// reader takes, every refusal code, and that the cursor stops right after the
// element. Header forms are the cursor's own and are tested with it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/elements.h"

namespace qalv {
namespace {

using Bytes = std::vector<uint8_t>;

// A byte after the element, which a reader must leave unread.
constexpr uint8_t kNext = 0xEE;

der::Cursor CursorOver(Bytes& bytes) {
  bytes.push_back(kNext);
  return der::Cursor(bytes);
}

void ExpectOnlyNextLeft(const der::Cursor& cur) {
  ASSERT_EQ(cur.Left(), 1u);
  EXPECT_EQ(cur.Rest()[0], kNext);
}

struct IntegerCase {
  const char* name;
  Bytes bytes;
  int32_t code;
  int32_t value;
};

class ReadIntegerTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(ReadIntegerTest, ReadsValue) {
  IntegerCase c = GetParam();
  der::Cursor cur = CursorOver(c.bytes);
  int32_t value = -7;
  EXPECT_EQ(tlv::ReadInteger(cur, value), c.code);
  if (c.code == 0) {
    EXPECT_EQ(value, c.value);
    ExpectOnlyNextLeft(cur);
  } else {
    EXPECT_EQ(value, -7) << "a refused INTEGER leaves the value alone";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Integers, ReadIntegerTest,
    testing::Values(IntegerCase{"One", {0x02, 0x01, 0x01}, 0, 1},
                    IntegerCase{"Zero", {0x02, 0x01, 0x00}, 0, 0},
                    IntegerCase{"EmptyReadsZero", {0x02, 0x00}, 0, 0},
                    IntegerCase{"LeadingZeroByte", {0x02, 0x02, 0x00, 0x80}, 0, 128},
                    IntegerCase{"FourBytes", {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}, 0, 0x7FFFFFFF},
                    IntegerCase{"LongLengthForm", {0x02, 0x81, 0x02, 0x01, 0x00}, 0, 256},
                    IntegerCase{"Negative", {0x02, 0x01, 0x80}, 24, 0},
                    IntegerCase{"FiveBytes", {0x02, 0x05, 0x00, 0x01, 0x02, 0x03, 0x04}, 24, 0},
                    IntegerCase{"WrongTag", {0x03, 0x01, 0x01}, 22, 0},
                    IntegerCase{"Cut", {0x02, 0x03, 0x01}, 20, 0}),
    [](const testing::TestParamInfo<IntegerCase>& info) { return std::string(info.param.name); });

Bytes Time(const std::string& text, uint8_t tag = 0x17) {
  Bytes bytes{tag, static_cast<uint8_t>(text.size())};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

struct TimeCase {
  const char* name;
  Bytes bytes;
  int32_t code;
  der::Time time;
};

class ReadUtcTimeTest : public testing::TestWithParam<TimeCase> {};

TEST_P(ReadUtcTimeTest, ReadsSixNumbers) {
  TimeCase c = GetParam();
  der::Cursor cur = CursorOver(c.bytes);
  der::Time time;
  EXPECT_EQ(tlv::ReadUtcTime(cur, time), c.code);
  if (c.code == 0) {
    EXPECT_EQ(time.year, c.time.year);
    EXPECT_EQ(time.month, c.time.month);
    EXPECT_EQ(time.day, c.time.day);
    EXPECT_EQ(time.hour, c.time.hour);
    EXPECT_EQ(time.minute, c.time.minute);
    EXPECT_EQ(time.second, c.time.second);
    ExpectOnlyNextLeft(cur);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Times, ReadUtcTimeTest,
    testing::Values(
        TimeCase{"Year89Is2089", Time("891231235959Z"), 0, {2089, 12, 31, 23, 59, 59}},
        TimeCase{"Year90Is1990", Time("900101000000Z"), 0, {1990, 1, 1, 0, 0, 0}},
        TimeCase{"NoRangeCheck", Time("269940996199Z"), 0, {2026, 99, 40, 99, 61, 99}},
        TimeCase{"TrailerIgnored", Time("261209150534+0800"), 0, {2026, 12, 9, 15, 5, 34}},
        TimeCase{"FiveNumbers", Time("2612091505"), 256, {}},
        TimeCase{"NotDigits", Time("2612091505XX"), 256, {}},
        TimeCase{"NulEndsTheText", Time(std::string("2612091505\0" "34", 13)), 256, {}},
        TimeCase{"ShortLastNumberReadsItsDigit", Time("26120915053X"), 0, {2026, 12, 9, 15, 5, 3}},
        TimeCase{"EmptyContent", Time(""), 256, {}},
        TimeCase{"ContentCut", {0x17, 0x05, 0x32}, 276, {}},
        TimeCase{"GeneralizedTimeTag", Time("20261209150534Z", 0x18), 278, {}},
        TimeCase{"FiveLengthBytes", {0x17, 0x85, 0, 0, 0, 0, 1}, 280, {}},
        TimeCase{"LongContentOnlyFirst63Read",
                 Time("261209150534" + std::string(100, 'Z')), 0, {2026, 12, 9, 15, 5, 34}},
        TimeCase{"DigitsPastTheFirst63BytesUnread",
                 Time(std::string(61, ' ') + "261209150534"), 256, {}}),
    [](const testing::TestParamInfo<TimeCase>& info) { return std::string(info.param.name); });

struct BitStringCase {
  const char* name;
  Bytes bytes;
  int32_t code;
  Bytes value;
};

class ReadBitStringTest : public testing::TestWithParam<BitStringCase> {};

TEST_P(ReadBitStringTest, ReadsValue) {
  BitStringCase c = GetParam();
  der::Cursor cur = CursorOver(c.bytes);
  der::Bytes value;
  EXPECT_EQ(tlv::ReadBitString(cur, value), c.code);
  if (c.code == 0) {
    EXPECT_EQ(Bytes(value.begin(), value.end()), c.value);
    ExpectOnlyNextLeft(cur);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BitStrings, ReadBitStringTest,
    testing::Values(BitStringCase{"OneValueByte", {0x03, 0x02, 0x00, 0x5A}, 0, {0x5A}},
                    BitStringCase{"TwoValueBytes", {0x03, 0x03, 0x00, 0x5A, 0xA5}, 0, {0x5A, 0xA5}},
                    BitStringCase{"OnlyUnusedBitsByte", {0x03, 0x01, 0x00}, 28, {}},
                    BitStringCase{"Empty", {0x03, 0x00}, 28, {}},
                    BitStringCase{"UnusedBitsOne", {0x03, 0x02, 0x01, 0x5A}, 28, {}},
                    BitStringCase{"WrongTag", {0x04, 0x02, 0x00, 0x5A}, 22, {}},
                    BitStringCase{"Cut", {0x03, 0x04, 0x00, 0x5A}, 20, {}}),
    [](const testing::TestParamInfo<BitStringCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qalv
