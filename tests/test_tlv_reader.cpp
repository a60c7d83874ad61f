// The element readers on hand-written headers: every length form, every
// refusal code, and where the cursor is left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/tlv_reader.h"

namespace qalv {
namespace {

using Bytes = std::vector<uint8_t>;

TlvCursor CursorOver(const Bytes& bytes) { return {bytes.data(), bytes.data() + bytes.size()}; }

struct TagCase {
  const char* name;
  Bytes bytes;
  uint8_t expectedTag;
  int32_t code;
  int32_t length;      // when code is 0
  size_t headerBytes;  // where the cursor stands on success
};

class ReadTagTest : public testing::TestWithParam<TagCase> {};

TEST_P(ReadTagTest, ReadsHeader) {
  const TagCase& c = GetParam();
  TlvCursor cur = CursorOver(c.bytes);
  const uint8_t* start = cur.pos;
  int32_t length = -1;
  EXPECT_EQ(ReadTag(cur, c.expectedTag, length), c.code);
  if (c.code == 0) {
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(static_cast<size_t>(cur.pos - start), c.headerBytes);
  } else {
    EXPECT_EQ(cur.pos, start) << "a refused header leaves the cursor where it was";
  }
}

Bytes WithContent(Bytes header, size_t content) {
  header.resize(header.size() + content, 0xAB);
  return header;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ReadTagTest,
    testing::Values(
        TagCase{"Empty", {}, 0x30, 20, 0, 0},
        TagCase{"WrongTag", {0x31, 0x00}, 0x30, 22, 0, 0},
        TagCase{"TagWithoutLength", {0x30}, 0x30, 20, 0, 0},
        TagCase{"ShortForm", WithContent({0x30, 0x05}, 5), 0x30, 0, 5, 2},
        TagCase{"ShortFormZero", {0x30, 0x00}, 0x30, 0, 0, 2},
        TagCase{"IndefiniteFormReadsZero", {0x30, 0x80}, 0x30, 0, 0, 2},
        TagCase{"NonMinimalTwoBytes", WithContent({0x30, 0x82, 0x00, 0x05}, 5), 0x30, 0, 5, 4},
        TagCase{"FourLengthBytes", WithContent({0x30, 0x84, 0x00, 0x00, 0x01, 0x00}, 256), 0x30, 0,
                256, 6},
        TagCase{"FiveLengthBytes", WithContent({0x30, 0x85, 0, 0, 0, 0, 1}, 1), 0x30, 24, 0, 0},
        TagCase{"LengthBytesCut", {0x30, 0x82, 0x01}, 0x30, 20, 0, 0},
        TagCase{"ContentCut", WithContent({0x30, 0x06}, 5), 0x30, 20, 0, 0},
        TagCase{"LongerThanInt32", {0x30, 0x84, 0x80, 0x00, 0x00, 0x00}, 0x30, 20, 0, 0},
        TagCase{"AllOnesLength", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, 0x30, 20, 0, 0}),
    [](const testing::TestParamInfo<TagCase>& info) { return std::string(info.param.name); });

struct IntegerCase {
  const char* name;
  Bytes bytes;
  int32_t code;
  int32_t value;
};

class ReadIntegerTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(ReadIntegerTest, ReadsValue) {
  const IntegerCase& c = GetParam();
  TlvCursor cur = CursorOver(c.bytes);
  int32_t value = -7;
  EXPECT_EQ(ReadInteger(cur, value), c.code);
  if (c.code == 0) {
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(cur.pos, cur.end) << "the cursor ends after the element";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Integers, ReadIntegerTest,
    testing::Values(IntegerCase{"One", {0x02, 0x01, 0x01}, 0, 1},
                    IntegerCase{"Zero", {0x02, 0x01, 0x00}, 0, 0},
                    IntegerCase{"EmptyReadsZero", {0x02, 0x00}, 0, 0},
                    IntegerCase{"LeadingZeroByte", {0x02, 0x02, 0x00, 0x80}, 0, 128},
                    IntegerCase{"FourBytes", {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}, 0, 0x7FFFFFFF},
                    IntegerCase{"Negative", {0x02, 0x01, 0x80}, 24, 0},
                    IntegerCase{"FiveBytes", {0x02, 0x05, 0x00, 0x01, 0x02, 0x03, 0x04}, 24, 0},
                    IntegerCase{"WrongTag", {0x03, 0x01, 0x01}, 22, 0},
                    IntegerCase{"Cut", {0x02, 0x02, 0x01}, 20, 0}),
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
  const TimeCase& c = GetParam();
  TlvCursor cur = CursorOver(c.bytes);
  der::Time time;
  EXPECT_EQ(ReadUtcTime(cur, time), c.code);
  if (c.code == 0) {
    EXPECT_EQ(time.year, c.time.year);
    EXPECT_EQ(time.month, c.time.month);
    EXPECT_EQ(time.day, c.time.day);
    EXPECT_EQ(time.hour, c.time.hour);
    EXPECT_EQ(time.minute, c.time.minute);
    EXPECT_EQ(time.second, c.time.second);
    EXPECT_EQ(cur.pos, cur.end);
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
        TimeCase{"ShortLastNumberReadsItsDigit", Time("26120915053X"), 0, {2026, 12, 9, 15, 5, 3}},
        TimeCase{"EmptyContent", Time(""), 256, {}},
        TimeCase{"NoBytes", {}, 276, {}},
        TimeCase{"GeneralizedTimeTag", Time("20261209150534Z", 0x18), 278, {}},
        TimeCase{"FiveLengthBytes", {0x17, 0x85, 0, 0, 0, 0, 1}, 280, {}},
        TimeCase{"LongContentOnlyFirst63Read",
                 Time("261209150534" + std::string(100, 'Z')), 0, {2026, 12, 9, 15, 5, 34}}),
    [](const testing::TestParamInfo<TimeCase>& info) { return std::string(info.param.name); });

struct BitStringCase {
  const char* name;
  Bytes bytes;
  int32_t code;
  Bytes value;
};

class ReadBitStringTest : public testing::TestWithParam<BitStringCase> {};

TEST_P(ReadBitStringTest, ReadsValue) {
  const BitStringCase& c = GetParam();
  TlvCursor cur = CursorOver(c.bytes);
  der::Bytes value;
  EXPECT_EQ(ReadBitString(cur, value), c.code);
  if (c.code == 0) {
    EXPECT_EQ(Bytes(value.begin(), value.end()), c.value);
    EXPECT_EQ(cur.pos, cur.end);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BitStrings, ReadBitStringTest,
    testing::Values(BitStringCase{"OneValueByte", {0x03, 0x02, 0x00, 0x5A}, 0, {0x5A}},
                    BitStringCase{"OnlyUnusedBitsByte", {0x03, 0x01, 0x00}, 28, {}},
                    BitStringCase{"Empty", {0x03, 0x00}, 28, {}},
                    BitStringCase{"UnusedBitsOne", {0x03, 0x02, 0x01, 0x5A}, 28, {}},
                    BitStringCase{"WrongTag", {0x04, 0x02, 0x00, 0x5A}, 22, {}},
                    BitStringCase{"Cut", {0x03, 0x03, 0x00, 0x5A}, 20, {}}),
    [](const testing::TestParamInfo<BitStringCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qalv
