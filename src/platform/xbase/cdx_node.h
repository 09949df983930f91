#pragma once
// Pages of the .CDX compound index: tag headers and tree nodes.
//
// A .CDX is an array of 512-byte pages; pointers are absolute byte offsets.
// Tag header (1024 bytes, little-endian; the one at offset 0 indexes the tags):
//   0    LE32 root node            4   LE32 free list (0)     8  LE32 counter
//   12   LE16 key length           14  options (0x20 compact, 0x40 compound,
//                                      0x08 FOR, 0x80 tag-of-tags, 0x01 unique)
//   15   signature 0x01            16..501 zero (499 = 0: keys not upper-cased)
//   502  LE16 order (1 = descending)
//   504  LE16 FOR start in pool    506 LE16 FOR length incl. NUL
//   508  LE16 key start (0)        510 LE16 key length incl. NUL
//   512  expression pool: key text, NUL, FOR text, NUL
// Node header (12 bytes): LE16 attribute (bit 0 root, bit 1 leaf), LE16 key
// count, LE32 left sibling, LE32 right sibling (-1 = none).
// Interior node: from 12, entries of key bytes + BE32 record + BE32 child;
// each entry is the last (key, record) of its child.
// Leaf node: 12 LE16 free space, 14 LE32 record mask, 18 dup mask, 19 trail
// mask, 20 record bits, 21 dup bits, 22 trail bits, 23 entry bytes; entries
// from 24 as little-endian integers (trail | dup | record, high to low bits);
// the key bytes not shared with the previous key and not trailing padding are
// stacked downwards from the end of the page.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/xbase/status.h"

namespace veltrane::xbase {

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kTagHeaderSize = 1024;
constexpr uint32_t kNoPage = 0xFFFFFFFFu;
constexpr uint32_t kLeafSpace = 488;  // 512 - 24 bytes of leaf header
constexpr uint8_t kKeyPad = ' ';      // character keys are padded with spaces
constexpr uint8_t kOptionUnique = 0x01;
constexpr uint8_t kOptionFor = 0x08;
constexpr uint8_t kOptionCompact = 0x20;
constexpr uint8_t kOptionCompound = 0x40;
constexpr uint8_t kOptionStructure = 0x80;
constexpr int kTagNameLength = 10;
constexpr int kMaxTreeDepth = 16;

struct KeyEntry {
  std::string key;  // exactly the tag's key length
  uint32_t rec = 0;
};

inline int CompareEntry(const std::string& key, uint32_t rec, const KeyEntry& e) {
  int c = key.compare(e.key);
  if (c != 0) return c;
  return rec < e.rec ? -1 : rec > e.rec ? 1 : 0;
}

struct CdxNode {
  bool leaf = true;
  bool root = false;
  uint32_t left = kNoPage;
  uint32_t right = kNoPage;
  std::vector<KeyEntry> entries;   // leaf: its keys; interior: last key of each child
  std::vector<uint32_t> children;  // interior only, parallel to entries
};

struct TagHeader {
  uint32_t root = 0;
  int key_length = 0;
  uint8_t options = 0;
  bool descending = false;
  std::string key_expression;
  std::string for_expression;
};

Status DecodeTagHeader(const uint8_t* bytes, bool structure, TagHeader* out);
void EncodeTagHeader(const TagHeader& header, uint8_t* bytes);  // 1024 bytes, zeroed by caller

Status DecodeNode(const uint8_t* page, int key_length, CdxNode* out);
void EncodeNode(const CdxNode& node, int key_length, uint8_t* page);  // 512 bytes

// Bytes a leaf's entries and stored key bytes take (must be <= kLeafSpace).
size_t LeafBytesUsed(const std::vector<KeyEntry>& entries, int key_length);
int InteriorCapacity(int key_length);

// Incremental form of LeafBytesUsed for filling leaves in key order.
class LeafBudget {
 public:
  explicit LeafBudget(int key_length) : key_length_(key_length) {}
  // Bytes the leaf would use with `e` appended after `previous` (nullptr = first).
  size_t BytesWith(const KeyEntry& e, const KeyEntry* previous) const;
  void Add(const KeyEntry& e, const KeyEntry* previous);
  size_t Used() const;
  void Reset();

 private:
  size_t StoredBytes(const KeyEntry& e, const KeyEntry* previous) const;
  int key_length_;
  size_t count_ = 0;
  size_t stored_ = 0;
  uint32_t max_rec_ = 0;
};

}  // namespace veltrane::xbase
