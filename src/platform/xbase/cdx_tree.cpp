#include "platform/xbase/cdx_tree.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

namespace veltrane::xbase {
namespace {

// Generations are unique across all trees, so a position kept from a tree
// that was since replaced can never pass for a current one.
uint64_t NextGeneration() {
  static std::atomic<uint64_t> counter{0};
  return ++counter;
}

Status BadTree(const std::string& why) { return Status(kCorrupt, "damaged index: " + why); }

bool SameEntry(const KeyEntry& a, const KeyEntry& b) { return a.rec == b.rec && a.key == b.key; }

size_t LowerBound(const std::vector<KeyEntry>& entries, const std::string& key, uint32_t rec) {
  auto it = std::lower_bound(entries.begin(), entries.end(), 0,
                             [&](const KeyEntry& e, int) { return CompareEntry(key, rec, e) > 0; });
  return size_t(it - entries.begin());
}

}  // namespace

Status TagTree::Load(const std::vector<uint8_t>& file, uint32_t root,
                     const std::unordered_set<uint32_t>& reserved) {
  generation_ = NextGeneration();
  nodes_.clear();
  dirty_.clear();
  size_ = 0;
  root_ = root;
  std::vector<std::vector<uint32_t>> levels;  // pages per depth, left to right
  int leaf_depth = -1;

  std::function<Status(uint32_t, int, const KeyEntry**)> load =
      [&](uint32_t page, int depth, const KeyEntry** last) -> Status {
    if (page == 0 || page == kNoPage || page % kPageSize != 0 ||
        uint64_t(page) + kPageSize > file.size()) {
      return BadTree("node pointer outside the file");
    }
    if (reserved.count(page) != 0) return BadTree("node inside a tag header");
    if (nodes_.count(page) != 0) return BadTree("node reached twice (cycle)");
    if (depth >= kMaxTreeDepth) return BadTree("tree too deep");
    CdxNode node;
    if (Status s = DecodeNode(file.data() + page, key_length_, &node); !s.ok()) return s;
    if (node.root != (depth == 0)) return BadTree("root flag in the wrong node");
    auto [it, inserted] = nodes_.emplace(page, std::move(node));
    CdxNode& stored = it->second;
    if (levels.size() <= size_t(depth)) levels.resize(size_t(depth) + 1);
    levels[size_t(depth)].push_back(page);
    *last = nullptr;
    if (stored.leaf) {
      if (leaf_depth < 0) leaf_depth = depth;
      if (leaf_depth != depth) return BadTree("leaves at different depths");
      size_ += stored.entries.size();
      // An empty leaf other than the root says nothing about the keys that
      // belong under it, so inserts could not be routed safely: such a tree
      // is read as damaged and rebuilt.
      if (stored.entries.empty() && depth > 0) return BadTree("empty leaf");
      if (!stored.entries.empty()) *last = &stored.entries.back();
      return {};
    }
    for (size_t i = 0; i < stored.children.size(); ++i) {
      const KeyEntry* child_last = nullptr;
      if (Status s = load(stored.children[i], depth + 1, &child_last); !s.ok()) return s;
      if (child_last != nullptr && !SameEntry(*child_last, stored.entries[i])) {
        return BadTree("interior entry differs from the last key of its child");
      }
    }
    *last = &stored.entries.back();
    return {};
  };
  const KeyEntry* last = nullptr;
  if (Status s = load(root, 0, &last); !s.ok()) return s;

  // The leaf chain must be the left-to-right order of the tree.
  const std::vector<uint32_t>& leaves = levels[size_t(leaf_depth)];
  for (size_t i = 0; i < leaves.size(); ++i) {
    const CdxNode& leaf = nodes_.at(leaves[i]);
    if (leaf.left != (i == 0 ? kNoPage : leaves[i - 1]) ||
        leaf.right != (i + 1 == leaves.size() ? kNoPage : leaves[i + 1])) {
      return BadTree("broken leaf chain");
    }
  }
  const KeyEntry* prev = nullptr;
  for (uint32_t page : leaves) {
    for (const KeyEntry& e : nodes_.at(page).entries) {
      if (prev != nullptr && CompareEntry(e.key, e.rec, *prev) <= 0) {
        return BadTree("keys out of order");
      }
      prev = &e;
    }
  }
  // Interior sibling links are not needed for reading; make them right so that
  // later splits link new pages correctly.
  for (const auto& level : levels) {
    for (size_t i = 0; i < level.size(); ++i) {
      CdxNode& n = nodes_.at(level[i]);
      n.left = i == 0 ? kNoPage : level[i - 1];
      n.right = i + 1 == level.size() ? kNoPage : level[i + 1];
    }
  }
  return {};
}

void TagTree::Build(const std::vector<KeyEntry>& sorted, const PageAllocator& allocate) {
  generation_ = NextGeneration();
  nodes_.clear();
  dirty_.clear();
  size_ = sorted.size();
  std::vector<uint32_t> level;
  auto close_node = [&](CdxNode&& node) {
    uint32_t page = allocate();
    if (!level.empty()) {
      nodes_.at(level.back()).right = page;
      node.left = level.back();
    }
    level.push_back(page);
    nodes_.emplace(page, std::move(node));
    Touch(page);
  };
  CdxNode leaf;
  LeafBudget budget(key_length_);
  for (const KeyEntry& e : sorted) {
    const KeyEntry* prev = leaf.entries.empty() ? nullptr : &leaf.entries.back();
    if (prev != nullptr && budget.BytesWith(e, prev) > kLeafSpace) {
      close_node(std::move(leaf));
      leaf = CdxNode();
      budget.Reset();
      prev = nullptr;
    }
    budget.Add(e, prev);
    leaf.entries.push_back(e);
  }
  close_node(std::move(leaf));

  const size_t capacity = size_t(InteriorCapacity(key_length_));
  while (level.size() > 1) {
    std::vector<uint32_t> children = std::move(level);
    level.clear();
    for (size_t i = 0; i < children.size(); i += capacity) {
      CdxNode node;
      node.leaf = false;
      for (size_t k = i; k < std::min(children.size(), i + capacity); ++k) {
        node.entries.push_back(nodes_.at(children[k]).entries.back());
        node.children.push_back(children[k]);
      }
      close_node(std::move(node));
    }
  }
  root_ = level.front();
  nodes_.at(root_).root = true;
}

std::vector<TagTree::Step> TagTree::Descend(const std::string& key, uint32_t rec) const {
  std::vector<Step> path;
  uint32_t page = root_;
  while (true) {
    const CdxNode& node = nodes_.at(page);
    if (node.leaf) {
      path.push_back({page, 0});
      return path;
    }
    size_t i = LowerBound(node.entries, key, rec);
    if (i == node.entries.size()) i = node.entries.size() - 1;
    path.push_back({page, i});
    page = node.children[i];
  }
}

bool TagTree::Overflows(const CdxNode& node) const {
  if (node.leaf) return LeafBytesUsed(node.entries, key_length_) > kLeafSpace;
  return node.entries.size() > size_t(InteriorCapacity(key_length_));
}

uint32_t TagTree::Split(uint32_t page, bool at_end, const PageAllocator& allocate) {
  const uint32_t fresh = allocate();
  CdxNode& left = nodes_.at(page);
  CdxNode right;
  right.leaf = left.leaf;
  // Appends at the far right leave the left node full: ever-growing keys
  // (dates, counters) then fill pages instead of leaving them half empty.
  const size_t cut = at_end ? left.entries.size() - 1 : left.entries.size() / 2;
  right.entries.assign(left.entries.begin() + long(cut), left.entries.end());
  left.entries.resize(cut);
  if (!left.leaf) {
    right.children.assign(left.children.begin() + long(cut), left.children.end());
    left.children.resize(cut);
  }
  right.left = page;
  right.right = left.right;
  if (left.right != kNoPage && nodes_.count(left.right) != 0) {
    nodes_.at(left.right).left = fresh;
    Touch(left.right);
  }
  left.right = fresh;
  nodes_.emplace(fresh, std::move(right));
  Touch(page);
  Touch(fresh);
  return fresh;
}

void TagTree::FixParents(std::vector<Step>& path, const PageAllocator& allocate, bool at_end) {
  for (size_t level = path.size(); level-- > 0;) {
    const uint32_t page = path[level].page;
    uint32_t fresh = kNoPage;
    if (Overflows(nodes_.at(page))) fresh = Split(page, at_end, allocate);
    if (level == 0) {
      if (fresh != kNoPage) {
        const uint32_t new_root = allocate();
        CdxNode root;
        root.leaf = false;
        root.root = true;
        root.entries = {nodes_.at(page).entries.back(), nodes_.at(fresh).entries.back()};
        root.children = {page, fresh};
        nodes_.at(page).root = false;
        nodes_.emplace(new_root, std::move(root));
        root_ = new_root;
        Touch(new_root);
      }
      return;
    }
    CdxNode& parent = nodes_.at(path[level - 1].page);
    const size_t ci = path[level - 1].child;
    bool changed = false;
    const KeyEntry& last = nodes_.at(page).entries.back();
    if (!SameEntry(parent.entries[ci], last)) {
      parent.entries[ci] = last;
      changed = true;
    }
    if (fresh != kNoPage) {
      parent.entries.insert(parent.entries.begin() + long(ci) + 1, nodes_.at(fresh).entries.back());
      parent.children.insert(parent.children.begin() + long(ci) + 1, fresh);
      changed = true;
    }
    if (!changed) return;
    Touch(path[level - 1].page);
    at_end = fresh != kNoPage && ci + 2 == parent.entries.size() && parent.right == kNoPage;
  }
}

void TagTree::Insert(const std::string& key, uint32_t rec, const PageAllocator& allocate) {
  generation_ = NextGeneration();
  std::vector<Step> path = Descend(key, rec);
  CdxNode& leaf = nodes_.at(path.back().page);
  const size_t pos = LowerBound(leaf.entries, key, rec);
  const bool at_end = pos == leaf.entries.size() && leaf.right == kNoPage;
  leaf.entries.insert(leaf.entries.begin() + long(pos), KeyEntry{key, rec});
  ++size_;
  Touch(path.back().page);
  FixParents(path, allocate, at_end);
}

bool TagTree::Erase(const std::string& key, uint32_t rec) {
  generation_ = NextGeneration();
  std::vector<Step> path = Descend(key, rec);
  CdxNode& leaf = nodes_.at(path.back().page);
  const size_t pos = LowerBound(leaf.entries, key, rec);
  if (pos == leaf.entries.size() || CompareEntry(key, rec, leaf.entries[pos]) != 0) return false;
  leaf.entries.erase(leaf.entries.begin() + long(pos));
  --size_;
  Touch(path.back().page);
  for (size_t level = path.size(); level-- > 0;) {
    const uint32_t page = path[level].page;
    CdxNode& node = nodes_.at(page);
    if (level == 0) {
      if (!node.leaf && node.entries.empty()) {
        node.leaf = true;  // the tree is empty again: the root becomes an empty leaf
        node.children.clear();
        Touch(page);
      }
      return true;
    }
    CdxNode& parent = nodes_.at(path[level - 1].page);
    const size_t ci = path[level - 1].child;
    if (node.entries.empty()) {
      // Only a root may stay empty: unlink the node; its page becomes garbage.
      if (node.left != kNoPage && nodes_.count(node.left) != 0) {
        nodes_.at(node.left).right = node.right;
        Touch(node.left);
      }
      if (node.right != kNoPage && nodes_.count(node.right) != 0) {
        nodes_.at(node.right).left = node.left;
        Touch(node.right);
      }
      nodes_.erase(page);
      parent.entries.erase(parent.entries.begin() + long(ci));
      parent.children.erase(parent.children.begin() + long(ci));
    } else if (!SameEntry(parent.entries[ci], node.entries.back())) {
      parent.entries[ci] = node.entries.back();
    } else {
      return true;
    }
    Touch(path[level - 1].page);
  }
  return true;
}

TagTree::Pos TagTree::SkipEmptyForward(uint32_t page) const {
  for (size_t steps = 0; page != kNoPage && steps <= nodes_.size(); ++steps) {
    auto it = nodes_.find(page);
    if (it == nodes_.end()) break;
    if (!it->second.entries.empty()) return Pos{page, 0};
    page = it->second.right;
  }
  return Pos{};
}

TagTree::Pos TagTree::SkipEmptyBackward(uint32_t page) const {
  for (size_t steps = 0; page != kNoPage && steps <= nodes_.size(); ++steps) {
    auto it = nodes_.find(page);
    if (it == nodes_.end()) break;
    if (!it->second.entries.empty()) return Pos{page, it->second.entries.size() - 1};
    page = it->second.left;
  }
  return Pos{};
}

TagTree::Pos TagTree::First() const {
  uint32_t page = root_;
  while (!nodes_.at(page).leaf) page = nodes_.at(page).children.front();
  return SkipEmptyForward(page);
}

TagTree::Pos TagTree::Last() const {
  uint32_t page = root_;
  while (!nodes_.at(page).leaf) page = nodes_.at(page).children.back();
  return SkipEmptyBackward(page);
}

bool TagTree::Next(Pos& pos) const {
  const CdxNode& node = nodes_.at(pos.page);
  if (pos.index + 1 < node.entries.size()) {
    ++pos.index;
    return true;
  }
  pos = SkipEmptyForward(node.right);
  return pos.valid();
}

bool TagTree::Prev(Pos& pos) const {
  if (pos.index > 0) {
    --pos.index;
    return true;
  }
  pos = SkipEmptyBackward(nodes_.at(pos.page).left);
  return pos.valid();
}

TagTree::Pos TagTree::Find(const std::string& key, uint32_t rec) const {
  std::vector<Step> path = Descend(key, rec);
  const CdxNode& leaf = nodes_.at(path.back().page);
  const size_t pos = LowerBound(leaf.entries, key, rec);
  if (pos == leaf.entries.size() || CompareEntry(key, rec, leaf.entries[pos]) != 0) return Pos{};
  return Pos{path.back().page, pos};
}

std::vector<uint32_t> TagTree::TakeDirtyPages() {
  std::vector<uint32_t> pages;
  for (auto it = dirty_.rbegin(); it != dirty_.rend(); ++it) {
    if (HasPage(*it)) pages.push_back(*it);
  }
  dirty_.clear();
  return pages;
}

std::vector<uint32_t> TagTree::Pages() const {
  std::vector<uint32_t> pages;
  for (const auto& [page, node] : nodes_) pages.push_back(page);
  return pages;
}

void TagTree::EncodePage(uint32_t page, uint8_t* out) const {
  EncodeNode(nodes_.at(page), key_length_, out);
}

}  // namespace veltrane::xbase
