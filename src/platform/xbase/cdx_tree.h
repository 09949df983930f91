#pragma once
// One B+ tree of a .CDX (a tag, or the tag-of-tags) held in memory page by
// page, so that lookups and walks never touch the disk and an update rewrites
// only the pages it changed.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/xbase/cdx_node.h"
#include "platform/xbase/status.h"

namespace veltrane::xbase {

class TagTree {
 public:
  using PageAllocator = std::function<uint32_t()>;

  explicit TagTree(int key_length = 1) : key_length_(key_length) {}

  // Reads and checks the tree under `root` from a whole-file image: page
  // bounds, cycles, depth, attributes, counts, parent entries, the leaf chain
  // and key order. `reserved` holds pages that belong to tag headers.
  Status Load(const std::vector<uint8_t>& file, uint32_t root,
              const std::unordered_set<uint32_t>& reserved);
  // Lays out a complete tree for sorted entries at pages handed out by
  // `allocate` (leaves filled as far as they go), all pages dirty.
  void Build(const std::vector<KeyEntry>& sorted, const PageAllocator& allocate);

  int key_length() const { return key_length_; }
  // Changes whenever keys move: positions taken before are then stale.
  uint64_t generation() const { return generation_; }
  uint32_t root() const { return root_; }
  size_t size() const { return size_; }

  struct Pos {
    uint32_t page = kNoPage;
    size_t index = 0;
    bool valid() const { return page != kNoPage; }
  };
  Pos First() const;
  Pos Last() const;
  bool Next(Pos& pos) const;  // false (pos invalid) past the end
  bool Prev(Pos& pos) const;
  const KeyEntry& At(Pos pos) const { return nodes_.at(pos.page).entries[pos.index]; }
  Pos Find(const std::string& key, uint32_t rec) const;  // invalid when absent

  void Insert(const std::string& key, uint32_t rec, const PageAllocator& allocate);
  bool Erase(const std::string& key, uint32_t rec);

  // Pages changed since the last call, highest first: pages appended at the
  // end of the file are written before the older pages that point to them.
  std::vector<uint32_t> TakeDirtyPages();
  void EncodePage(uint32_t page, uint8_t* out) const;
  bool HasPage(uint32_t page) const { return nodes_.count(page) != 0; }
  std::vector<uint32_t> Pages() const;

 private:
  struct Step {
    uint32_t page;
    size_t child;  // index of the next step's page in this node
  };
  std::vector<Step> Descend(const std::string& key, uint32_t rec) const;
  bool Overflows(const CdxNode& node) const;
  uint32_t Split(uint32_t page, bool at_end, const PageAllocator& allocate);
  void FixParents(std::vector<Step>& path, const PageAllocator& allocate, bool appended);
  Pos SkipEmptyForward(uint32_t page) const;
  Pos SkipEmptyBackward(uint32_t page) const;
  void Touch(uint32_t page) { dirty_.insert(page); }

  int key_length_;
  uint64_t generation_ = 0;
  uint32_t root_ = kNoPage;
  size_t size_ = 0;
  std::unordered_map<uint32_t, CdxNode> nodes_;
  std::set<uint32_t> dirty_;
};

}  // namespace veltrane::xbase
