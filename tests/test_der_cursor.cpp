// The checked DER cursor: both length rules on hand-written headers, every
// refusal code, children bounded by their element, and reads that never
// step past what is left.
#include <gtest/gtest.h>

#include <vector>

#include "der/cursor.h"

namespace qalv::der {
namespace {

using Data = std::vector<uint8_t>;

TEST(DerCursor, HeadersUnderEachLengthRule) {
  const struct {
    const char* name;
    Data bytes;
    LengthRule rule;
    int32_t code;
    size_t length = 0;  // when the code is 0
    size_t header = 0;  // bytes the header took
  } rows[] = {
      {"short form", {0x30, 0x02, 1, 2}, LengthRule::kCertificate, 0, 2, 2},
      {"0x81 form", {0x30, 0x81, 0x01, 9}, LengthRule::kCertificate, 0, 1, 3},
      {"0x82 form, non-minimal", {0x30, 0x82, 0x00, 0x01, 9}, LengthRule::kCertificate, 0, 1, 4},
      {"0x83 refused in certificates", {0x30, 0x83, 0, 0, 1, 9}, LengthRule::kCertificate, kInvalidLength},
      {"0x80 refused in certificates", {0x30, 0x80}, LengthRule::kCertificate, kInvalidLength},
      {"0x83 taken in packages", {0x30, 0x83, 0, 0, 1, 9}, LengthRule::kPackage, 0, 1, 5},
      {"0x84 taken in packages", {0x30, 0x84, 0, 0, 0, 1, 9}, LengthRule::kPackage, 0, 1, 6},
      {"0x80 is length 0 in packages", {0x30, 0x80}, LengthRule::kPackage, 0, 0, 2},
      {"0x85 refused in packages", {0x30, 0x85, 0, 0, 0, 0, 1, 9}, LengthRule::kPackage, kInvalidLength},
      {"empty", {}, LengthRule::kPackage, kOutOfData},
      {"tag only", {0x30}, LengthRule::kCertificate, kOutOfData},
      {"length bytes cut short", {0x30, 0x82, 0x00}, LengthRule::kCertificate, kOutOfData},
      {"package length bytes cut short", {0x30, 0x84, 0, 0}, LengthRule::kPackage, kOutOfData},
      {"content cut short", {0x30, 0x03, 1, 2}, LengthRule::kCertificate, kOutOfData},
      {"length past INT32_MAX", {0x30, 0x84, 0x80, 0, 0, 0}, LengthRule::kPackage, kOutOfData},
      {"other tag", {0x31, 0x00}, LengthRule::kCertificate, kUnexpectedTag},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Cursor cursor{Bytes(row.bytes)};
    size_t length = 99;
    EXPECT_EQ(cursor.ReadHeader(kTagSequence, length, row.rule), row.code);
    if (row.code == 0) {
      EXPECT_EQ(length, row.length);
      EXPECT_EQ(cursor.Left(), row.bytes.size() - row.header);
    } else {
      EXPECT_EQ(cursor.Left(), row.bytes.size()) << "a refused header leaves the cursor where it was";
    }
  }
}

TEST(DerCursor, ElementsBoundTheirChildrenAndShowTheirWholeBytes) {
  const Data bytes = {0x30, 0x05, 0x02, 0x01, 0x07, 0x05, 0x00, 0x04, 0x01, 0xAA};
  Cursor input{Bytes(bytes)};
  Cursor sequence;
  Bytes whole;
  ASSERT_EQ(input.ReadElement(kTagSequence, sequence, LengthRule::kCertificate, &whole), 0);
  EXPECT_EQ(whole.size(), 7u);
  EXPECT_EQ(whole.data(), bytes.data());
  EXPECT_TRUE(input.NextIs(kTagOctetString));

  uint8_t tag = 0;
  Cursor integer;
  ASSERT_EQ(sequence.ReadAnyElement(tag, integer, LengthRule::kCertificate), 0);
  EXPECT_EQ(tag, kTagInteger);
  ASSERT_EQ(integer.Left(), 1u);
  EXPECT_EQ(integer.Rest()[0], 0x07);
  Cursor null;
  ASSERT_EQ(sequence.ReadElement(kTagNull, null, LengthRule::kCertificate), 0);
  EXPECT_TRUE(null.Empty());
  EXPECT_TRUE(sequence.Empty()) << "the child ends where its element does";
  EXPECT_EQ(sequence.ReadElement(kTagNull, null, LengthRule::kCertificate), kOutOfData);
}

TEST(DerCursor, PlainReadsStopAtWhatIsLeft) {
  const Data bytes = {1, 2, 3};
  Cursor cursor{Bytes(bytes)};
  EXPECT_TRUE(cursor.StartsWith(Bytes(bytes).first(2)));
  EXPECT_FALSE(cursor.StartsWith(Bytes(Data{1, 2, 3, 4})));
  Bytes two;
  EXPECT_EQ(cursor.ReadBytes(4, two), kOutOfData);
  ASSERT_EQ(cursor.ReadBytes(2, two), 0);
  EXPECT_TRUE(SameBytes(two, Bytes(bytes).first(2)));
  EXPECT_EQ(cursor.Skip(2), kOutOfData);
  uint8_t last = 0;
  ASSERT_EQ(cursor.ReadByte(last), 0);
  EXPECT_EQ(last, 3);
  EXPECT_EQ(cursor.ReadByte(last), kOutOfData);
  EXPECT_EQ(cursor.PeekByte(last), kOutOfData);
  EXPECT_FALSE(cursor.NextIs(3));
  EXPECT_TRUE(SameBytes(Bytes(), Bytes()));
  EXPECT_FALSE(SameBytes(Bytes(bytes).first(1), Bytes(bytes).first(2)));
}

}  // namespace
}  // namespace qalv::der
