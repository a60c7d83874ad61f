// A small DER tree that serialises to bytes. Every node can be changed before
// serialisation, including the length bytes of its header, so that tests can
// build any malformed variant of an element as easily as the proper one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/secure_buffer.h"

namespace qalv::writer {

using Bytes = WipedBytes;

struct DerNode {
  uint8_t tag = 0;
  // Lookup name for Find/At ("cipher", "memo", ...); empty for anonymous nodes.
  std::string name;
  // Content of a primitive element; used only when `children` is empty.
  Bytes content;
  std::vector<DerNode> children;
  // When set, written instead of the minimal length encoding (non-minimal
  // forms, wrong lengths, more than four length bytes).
  std::optional<Bytes> lengthBytes;

  // The first node named `key` in this subtree (depth first, this node
  // included); null when there is none.
  DerNode* Find(std::string_view key);
  const DerNode* Find(std::string_view key) const;
  // As Find, but throws std::out_of_range when there is none.
  DerNode& At(std::string_view key);
  const DerNode& At(std::string_view key) const;
  // Removes the first descendant named `key`, or inserts `node` right after
  // it among its siblings; both throw std::out_of_range when there is none.
  void Remove(std::string_view key);
  void InsertAfter(std::string_view key, DerNode node);
};

namespace tag {
inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kOid = 0x06;
inline constexpr uint8_t kUtf8String = 0x0C;
inline constexpr uint8_t kPrintableString = 0x13;
inline constexpr uint8_t kUtcTime = 0x17;
inline constexpr uint8_t kSequence = 0x30;
inline constexpr uint8_t kSet = 0x31;
inline constexpr uint8_t kContext0 = 0xA0;
}  // namespace tag

// Tag, length and content of the whole subtree.
Bytes Serialize(const DerNode& node);
// The content alone (the children's encodings, or `content`).
Bytes SerializeContent(const DerNode& node);

// Length bytes: the minimal DER form, and the long form with exactly
// `byteCount` length bytes (1 to 126; big-endian, zero-padded).
Bytes MinimalLength(size_t length);
Bytes LongFormLength(size_t length, size_t byteCount);

DerNode Primitive(uint8_t tagByte, std::string name, Bytes content);
DerNode Constructed(uint8_t tagByte, std::string name, std::vector<DerNode> children);
DerNode Sequence(std::string name, std::vector<DerNode> children);
DerNode Set(std::vector<DerNode> children);
// Minimal two's-complement content, so negative and wide values are possible.
DerNode Integer(std::string name, int64_t value);
// Content = unused-bits byte 0 followed by `value`.
DerNode BitString(std::string name, const Bytes& value);
DerNode Utf8String(std::string name, std::string_view text);
DerNode OctetString(Bytes value);
// Dotted-decimal text, e.g. "1.2.840.113549.1.7.2".
DerNode Oid(std::string_view dotted);
// Content = `text` as given, e.g. "250101120000Z".
DerNode UtcTime(std::string name, std::string_view text);

// Replaces a BIT STRING node's content with unused-bits byte 0 and `value`.
void SetBitStringValue(DerNode& node, const Bytes& value);
// The value of a BIT STRING node (its content after the unused-bits byte).
Bytes BitStringValue(const DerNode& node);

Bytes ToBytes(std::string_view text);

}  // namespace qalv::writer
