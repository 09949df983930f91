#include "platform/xbase/cdx_node.h"

#include <algorithm>
#include <cstring>

#include "platform/xbase/bytes.h"

namespace veltrane::xbase {
namespace {

constexpr int kMaxKeyLength = 240;
constexpr uint32_t kInteriorSpace = 500;  // 512 - 12 bytes of node header

struct LeafBits {
  int rec_bits = 0;
  int dup_bits = 0;
  int trail_bits = 0;
  int entry_bytes = 0;
};

uint32_t Mask(int bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1; }

int BitsToWrite(int value) {
  int bits = 0;
  while ((1 << bits) <= value) ++bits;
  return bits;
}

// Duplicate and trailing counts get just enough bits for the key length; the
// record number gets the rest, one more byte per entry when it does not fit.
LeafBits ChooseLeafBits(int key_length, uint32_t max_rec) {
  LeafBits bits;
  bits.dup_bits = bits.trail_bits = BitsToWrite(key_length);
  bits.entry_bytes = bits.dup_bits <= 8 ? 3 : 4;
  bits.rec_bits = 8 * bits.entry_bytes - 2 * bits.dup_bits;
  while (bits.rec_bits < 32 && max_rec > Mask(bits.rec_bits)) {
    bits.entry_bytes += 1;
    bits.rec_bits += 8;
  }
  return bits;
}

int TrailCount(const std::string& key) {
  int n = int(key.size());
  int trail = 0;
  while (trail < n && uint8_t(key[size_t(n - 1 - trail)]) == kKeyPad) ++trail;
  return trail;
}

int DupCount(const std::string& key, const std::string& prev, int trail, int prev_trail) {
  int limit = int(key.size()) - std::max(trail, prev_trail);
  int dup = 0;
  while (dup < limit && key[size_t(dup)] == prev[size_t(dup)]) ++dup;
  return dup;
}

Status BadNode(const char* why) { return Status(kCorrupt, std::string("damaged index node: ") + why); }

Status DecodeLeaf(const uint8_t* page, uint32_t nkeys, int key_length, CdxNode* out) {
  const uint32_t rec_mask = Le32(page + 14);
  const LeafBits bits{page[20], page[21], page[22], page[23]};
  if (bits.entry_bytes < 3 || bits.entry_bytes > 8) return BadNode("bad entry size");
  if (bits.rec_bits + bits.dup_bits + bits.trail_bits != 8 * bits.entry_bytes) {
    return BadNode("bit widths do not add up");
  }
  if (bits.rec_bits < 1 || bits.rec_bits > 32 || bits.dup_bits > 8 || bits.trail_bits > 8) {
    return BadNode("bad bit widths");
  }
  if (rec_mask != Mask(bits.rec_bits) || page[18] != Mask(bits.dup_bits) ||
      page[19] != Mask(bits.trail_bits)) {
    return BadNode("masks do not match the bit widths");
  }
  const size_t table_end = 24 + size_t(nkeys) * size_t(bits.entry_bytes);
  if (table_end > kPageSize) return BadNode("too many keys for a leaf");
  size_t pos = kPageSize;
  out->entries.resize(nkeys);
  for (uint32_t i = 0; i < nkeys; ++i) {
    uint64_t v = 0;
    const uint8_t* e = page + 24 + size_t(i) * size_t(bits.entry_bytes);
    for (int b = bits.entry_bytes - 1; b >= 0; --b) v = v << 8 | e[b];
    const uint32_t rec = uint32_t(v & rec_mask);
    int dup = int((v >> bits.rec_bits) & Mask(bits.dup_bits));
    const int trail = int((v >> (bits.rec_bits + bits.dup_bits)) & Mask(bits.trail_bits));
    if (i == 0) dup = 0;
    if (dup + trail > key_length) return BadNode("entry longer than the key");
    const size_t stored = size_t(key_length - dup - trail);
    if (pos < table_end + stored) return BadNode("key bytes overlap the entry table");
    pos -= stored;
    std::string& key = out->entries[i].key;
    key.assign(size_t(key_length), char(kKeyPad));
    if (dup > 0) std::memcpy(key.data(), out->entries[i - 1].key.data(), size_t(dup));
    std::memcpy(key.data() + dup, page + pos, stored);
    out->entries[i].rec = rec;
  }
  return {};
}

Status DecodeInterior(const uint8_t* page, uint32_t nkeys, int key_length, CdxNode* out) {
  if (nkeys < 1 || nkeys > uint32_t(InteriorCapacity(key_length))) {
    return BadNode("bad key count in an interior node");
  }
  const size_t entry_size = size_t(key_length) + 8;
  out->entries.resize(nkeys);
  out->children.resize(nkeys);
  for (uint32_t i = 0; i < nkeys; ++i) {
    const uint8_t* e = page + 12 + i * entry_size;
    out->entries[i].key.assign(reinterpret_cast<const char*>(e), size_t(key_length));
    out->entries[i].rec = Be32(e + key_length);
    out->children[i] = Be32(e + key_length + 4);
  }
  return {};
}

void EncodeLeaf(const CdxNode& node, int key_length, uint8_t* page) {
  uint32_t max_rec = 0;
  for (const KeyEntry& e : node.entries) max_rec = std::max(max_rec, e.rec);
  const LeafBits bits = ChooseLeafBits(key_length, max_rec);
  size_t pos = kPageSize;
  int prev_trail = 0;
  for (size_t i = 0; i < node.entries.size(); ++i) {
    const std::string& key = node.entries[i].key;
    const int trail = TrailCount(key);
    const int dup = i == 0 ? 0 : DupCount(key, node.entries[i - 1].key, trail, prev_trail);
    const size_t stored = size_t(key_length - dup - trail);
    pos -= stored;
    std::memcpy(page + pos, key.data() + dup, stored);
    uint64_t v = uint64_t(node.entries[i].rec) | uint64_t(dup) << bits.rec_bits |
                 uint64_t(trail) << (bits.rec_bits + bits.dup_bits);
    uint8_t* e = page + 24 + i * size_t(bits.entry_bytes);
    for (int b = 0; b < bits.entry_bytes; ++b) e[b] = uint8_t(v >> (8 * b));
    prev_trail = trail;
  }
  const size_t table_end = 24 + node.entries.size() * size_t(bits.entry_bytes);
  PutLe16(page + 12, uint32_t(pos - table_end));
  PutLe32(page + 14, Mask(bits.rec_bits));
  page[18] = uint8_t(Mask(bits.dup_bits));
  page[19] = uint8_t(Mask(bits.trail_bits));
  page[20] = uint8_t(bits.rec_bits);
  page[21] = uint8_t(bits.dup_bits);
  page[22] = uint8_t(bits.trail_bits);
  page[23] = uint8_t(bits.entry_bytes);
}

void EncodeInterior(const CdxNode& node, int key_length, uint8_t* page) {
  const size_t entry_size = size_t(key_length) + 8;
  for (size_t i = 0; i < node.entries.size(); ++i) {
    uint8_t* e = page + 12 + i * entry_size;
    std::memcpy(e, node.entries[i].key.data(), size_t(key_length));
    PutBe32(e + key_length, node.entries[i].rec);
    PutBe32(e + key_length + 4, node.children[i]);
  }
}

}  // namespace

int InteriorCapacity(int key_length) { return int(kInteriorSpace / uint32_t(key_length + 8)); }

size_t LeafBytesUsed(const std::vector<KeyEntry>& entries, int key_length) {
  LeafBudget budget(key_length);
  for (size_t i = 0; i < entries.size(); ++i) {
    budget.Add(entries[i], i == 0 ? nullptr : &entries[i - 1]);
  }
  return budget.Used();
}

size_t LeafBudget::Used() const {
  if (count_ == 0) return 0;
  return count_ * size_t(ChooseLeafBits(key_length_, max_rec_).entry_bytes) + stored_;
}

size_t LeafBudget::StoredBytes(const KeyEntry& e, const KeyEntry* previous) const {
  const int trail = TrailCount(e.key);
  int dup = 0;
  if (previous != nullptr) dup = DupCount(e.key, previous->key, trail, TrailCount(previous->key));
  return size_t(key_length_ - dup - trail);
}

size_t LeafBudget::BytesWith(const KeyEntry& e, const KeyEntry* previous) const {
  const LeafBits bits = ChooseLeafBits(key_length_, std::max(max_rec_, e.rec));
  return (count_ + 1) * size_t(bits.entry_bytes) + stored_ + StoredBytes(e, previous);
}

void LeafBudget::Add(const KeyEntry& e, const KeyEntry* previous) {
  stored_ += StoredBytes(e, previous);
  max_rec_ = std::max(max_rec_, e.rec);
  ++count_;
}

void LeafBudget::Reset() {
  count_ = 0;
  stored_ = 0;
  max_rec_ = 0;
}

Status DecodeNode(const uint8_t* page, int key_length, CdxNode* out) {
  const uint32_t attribute = Le16(page);
  const uint32_t nkeys = Le16(page + 2);
  if (attribute > 3) return BadNode("unknown node attribute");
  out->root = (attribute & 1) != 0;
  out->leaf = (attribute & 2) != 0;
  out->left = Le32(page + 4);
  out->right = Le32(page + 8);
  out->entries.clear();
  out->children.clear();
  return out->leaf ? DecodeLeaf(page, nkeys, key_length, out)
                   : DecodeInterior(page, nkeys, key_length, out);
}

void EncodeNode(const CdxNode& node, int key_length, uint8_t* page) {
  std::memset(page, 0, kPageSize);
  PutLe16(page, (node.root ? 1u : 0u) | (node.leaf ? 2u : 0u));
  PutLe16(page + 2, uint32_t(node.entries.size()));
  PutLe32(page + 4, node.left);
  PutLe32(page + 8, node.right);
  if (node.leaf) {
    EncodeLeaf(node, key_length, page);
  } else {
    EncodeInterior(node, key_length, page);
  }
}

Status DecodeTagHeader(const uint8_t* bytes, bool structure, TagHeader* out) {
  auto bad = [](const char* why) { return Status(kCorrupt, std::string("damaged index header: ") + why); };
  out->root = Le32(bytes);
  out->key_length = int(Le16(bytes + 12));
  out->options = bytes[14];
  const uint32_t order = Le16(bytes + 502);
  if (out->key_length < 1 || out->key_length > kMaxKeyLength) return bad("bad key length");
  if (order > 1) return bad("bad order word");
  out->descending = order == 1;
  if (structure) {
    if ((out->options & kOptionStructure) == 0 || out->key_length != kTagNameLength) {
      return bad("not a compound index");
    }
    return {};
  }
  if ((out->options & (kOptionCompact | kOptionCompound)) != (kOptionCompact | kOptionCompound) ||
      (out->options & kOptionStructure) != 0) {
    return bad("not a compound index tag");
  }
  if ((out->options & 0x07) != 0) return bad("unique, partial or custom tags are not supported");
  if (bytes[499] != 0) return bad("case-insensitive tags are not supported");
  const uint8_t* pool = bytes + kPageSize;
  auto text = [&](uint32_t start, uint32_t length, std::string* to) {
    if (length < 1 || start + length > kPageSize || pool[start + length - 1] != 0) return false;
    to->assign(reinterpret_cast<const char*>(pool + start), length - 1);
    return to->find('\0') == std::string::npos;
  };
  if (!text(Le16(bytes + 508), Le16(bytes + 510), &out->key_expression) ||
      !text(Le16(bytes + 504), Le16(bytes + 506), &out->for_expression)) {
    return bad("bad expression pool");
  }
  if (out->key_expression.empty()) return bad("empty key expression");
  return {};
}

void EncodeTagHeader(const TagHeader& h, uint8_t* bytes) {
  PutLe32(bytes, h.root);
  PutLe16(bytes + 12, uint32_t(h.key_length));
  bytes[14] = h.options;
  bytes[15] = 0x01;
  PutLe16(bytes + 502, h.descending ? 1 : 0);
  const uint32_t key_len = uint32_t(h.key_expression.size()) + 1;
  const uint32_t for_len = uint32_t(h.for_expression.size()) + 1;
  PutLe16(bytes + 504, key_len);
  PutLe16(bytes + 506, for_len);
  PutLe16(bytes + 508, 0);
  PutLe16(bytes + 510, key_len);
  uint8_t* pool = bytes + kPageSize;
  std::memcpy(pool, h.key_expression.data(), h.key_expression.size());
  std::memcpy(pool + key_len, h.for_expression.data(), h.for_expression.size());
}

}  // namespace veltrane::xbase
