#include "writer/der_writer.h"

#include <charconv>
#include <stdexcept>

namespace qalv::writer {
namespace {

void AppendEncoding(const DerNode& node, Bytes& out);

void AppendContent(const DerNode& node, Bytes& out) {
  if (node.children.empty()) {
    out.insert(out.end(), node.content.begin(), node.content.end());
    return;
  }
  for (const DerNode& child : node.children) AppendEncoding(child, out);
}

void AppendEncoding(const DerNode& node, Bytes& out) {
  const Bytes body = SerializeContent(node);
  out.push_back(node.tag);
  const Bytes length = node.lengthBytes ? *node.lengthBytes : MinimalLength(body.size());
  out.insert(out.end(), length.begin(), length.end());
  out.insert(out.end(), body.begin(), body.end());
}

template <typename Node>
Node* FindIn(Node& node, std::string_view key) {
  if (node.name == key) return &node;
  for (auto& child : node.children) {
    if (Node* found = FindIn(child, key)) return found;
  }
  return nullptr;
}

template <typename Node>
Node& AtIn(Node& node, std::string_view key) {
  Node* found = FindIn(node, key);
  if (!found) throw std::out_of_range("no DER node named " + std::string(key));
  return *found;
}

// The sibling list holding the first descendant named `key`, and its position.
std::pair<std::vector<DerNode>*, size_t> Locate(DerNode& node, std::string_view key) {
  for (size_t i = 0; i < node.children.size(); ++i) {
    if (node.children[i].name == key) return {&node.children, i};
    const auto found = Locate(node.children[i], key);
    if (found.first) return found;
  }
  return {nullptr, 0};
}

std::pair<std::vector<DerNode>*, size_t> LocateOrThrow(DerNode& node, std::string_view key) {
  const auto found = Locate(node, key);
  if (!found.first) throw std::out_of_range("no DER node named " + std::string(key));
  return found;
}

// Base-128 digits, most significant first, high bit set on all but the last.
void AppendBase128(uint64_t value, Bytes& out) {
  Bytes digits{static_cast<uint8_t>(value & 0x7F)};
  for (value >>= 7; value != 0; value >>= 7) {
    digits.push_back(static_cast<uint8_t>(0x80 | (value & 0x7F)));
  }
  out.insert(out.end(), digits.rbegin(), digits.rend());
}

}  // namespace

DerNode* DerNode::Find(std::string_view key) { return FindIn(*this, key); }
const DerNode* DerNode::Find(std::string_view key) const { return FindIn(*this, key); }
DerNode& DerNode::At(std::string_view key) { return AtIn(*this, key); }
const DerNode& DerNode::At(std::string_view key) const { return AtIn(*this, key); }

void DerNode::Remove(std::string_view key) {
  const auto [siblings, index] = LocateOrThrow(*this, key);
  siblings->erase(siblings->begin() + static_cast<std::ptrdiff_t>(index));
}

void DerNode::InsertAfter(std::string_view key, DerNode node) {
  const auto [siblings, index] = LocateOrThrow(*this, key);
  siblings->insert(siblings->begin() + static_cast<std::ptrdiff_t>(index) + 1, std::move(node));
}

Bytes Serialize(const DerNode& node) {
  Bytes out;
  AppendEncoding(node, out);
  return out;
}

Bytes SerializeContent(const DerNode& node) {
  Bytes out;
  AppendContent(node, out);
  return out;
}

Bytes MinimalLength(size_t length) {
  if (length < 0x80) return {static_cast<uint8_t>(length)};
  size_t byteCount = 0;
  for (size_t rest = length; rest != 0; rest >>= 8) ++byteCount;
  return LongFormLength(length, byteCount);
}

Bytes LongFormLength(size_t length, size_t byteCount) {
  if (byteCount == 0 || byteCount > 126) throw std::invalid_argument("length byte count");
  Bytes out{static_cast<uint8_t>(0x80 | byteCount)};
  for (size_t i = byteCount; i-- > 0;) {
    out.push_back(i < sizeof(size_t) ? static_cast<uint8_t>(length >> (8 * i)) : 0);
  }
  return out;
}

DerNode Primitive(uint8_t tagByte, std::string name, Bytes content) {
  DerNode node;
  node.tag = tagByte;
  node.name = std::move(name);
  node.content = std::move(content);
  return node;
}

DerNode Constructed(uint8_t tagByte, std::string name, std::vector<DerNode> children) {
  DerNode node;
  node.tag = tagByte;
  node.name = std::move(name);
  node.children = std::move(children);
  return node;
}

DerNode Sequence(std::string name, std::vector<DerNode> children) {
  return Constructed(tag::kSequence, std::move(name), std::move(children));
}

DerNode Set(std::vector<DerNode> children) {
  return Constructed(tag::kSet, {}, std::move(children));
}

DerNode Integer(std::string name, int64_t value) {
  // Big-endian two's complement, dropping leading bytes that only repeat the sign.
  Bytes content;
  for (int shift = 56; shift >= 0; shift -= 8) {
    content.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> shift));
  }
  size_t skip = 0;
  while (skip + 1 < content.size() && ((content[skip] == 0x00 && content[skip + 1] < 0x80) ||
                                       (content[skip] == 0xFF && content[skip + 1] >= 0x80))) {
    ++skip;
  }
  content.erase(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(skip));
  return Primitive(tag::kInteger, std::move(name), std::move(content));
}

DerNode BitString(std::string name, const Bytes& value) {
  DerNode node = Primitive(tag::kBitString, std::move(name), {});
  SetBitStringValue(node, value);
  return node;
}

DerNode Utf8String(std::string name, std::string_view text) {
  return Primitive(tag::kUtf8String, std::move(name), ToBytes(text));
}

DerNode OctetString(Bytes value) { return Primitive(tag::kOctetString, {}, std::move(value)); }

DerNode Oid(std::string_view dotted) {
  std::vector<uint64_t> arcs;
  for (size_t start = 0; start <= dotted.size();) {
    size_t end = dotted.find('.', start);
    if (end == std::string_view::npos) end = dotted.size();
    uint64_t arc = 0;
    const auto [ptr, error] = std::from_chars(dotted.data() + start, dotted.data() + end, arc);
    if (error != std::errc() || ptr != dotted.data() + end) {
      throw std::invalid_argument("bad OID " + std::string(dotted));
    }
    arcs.push_back(arc);
    start = end + 1;
  }
  if (arcs.size() < 2) throw std::invalid_argument("bad OID " + std::string(dotted));
  Bytes content;
  AppendBase128(arcs[0] * 40 + arcs[1], content);
  for (size_t i = 2; i < arcs.size(); ++i) AppendBase128(arcs[i], content);
  return Primitive(tag::kOid, {}, std::move(content));
}

DerNode UtcTime(std::string name, std::string_view text) {
  return Primitive(tag::kUtcTime, std::move(name), ToBytes(text));
}

void SetBitStringValue(DerNode& node, const Bytes& value) {
  node.children.clear();
  node.content.assign(1, 0x00);
  node.content.insert(node.content.end(), value.begin(), value.end());
}

Bytes BitStringValue(const DerNode& node) {
  if (node.content.empty()) return {};
  return Bytes(node.content.begin() + 1, node.content.end());
}

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace qalv::writer
