#include "platform/xbase/cdx_index.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/xbase/bytes.h"

namespace veltrane::xbase {
namespace {

constexpr uint64_t kMaxIndexFile = 1ull << 31;
constexpr size_t kMaxTags = 30;  // all tag names fit in one tag-of-tags leaf
constexpr uint32_t kTagOfTagsRoot = kTagHeaderSize;

Status BadIndex(const std::string& why) { return Status(kCorrupt, "damaged index: " + why); }

bool ValidTagName(const std::string& name) {
  if (name.empty() || name.size() > size_t(kTagNameLength)) return false;
  for (char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

std::string PadTagName(const std::string& name) {
  std::string key = name;
  key.resize(size_t(kTagNameLength), ' ');
  return key;
}

std::string TrimTagName(const std::string& key) {
  size_t end = key.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : key.substr(0, end + 1);
}

}  // namespace

bool SameTagSpecs(const std::vector<TagSpec>& a, const std::vector<TagSpec>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameExpression(a[i].name, b[i].name) || a[i].descending != b[i].descending ||
        !SameExpression(a[i].key_expression, b[i].key_expression) ||
        !SameExpression(a[i].for_expression, b[i].for_expression)) {
      return false;
    }
  }
  return true;
}

Status CompileTag(const TagSpec& spec, const DbfLayout& layout, CdxTag* out) {
  if (!ValidTagName(spec.name)) {
    return Status(kInvalidArgument, "bad tag name \"" + spec.name + "\"");
  }
  if (spec.unique) return Status(kInvalidArgument, "unique tags are not supported");
  auto key = KeyExpression::Compile(spec.key_expression, layout.fields, layout.offsets);
  if (!key.ok()) return key.status();
  auto condition = ForCondition::Compile(spec.for_expression);
  if (!condition.ok()) return condition.status();
  out->spec = spec;
  out->key = key.value();
  out->condition = condition.value();
  out->tree = TagTree(key.value().length());
  return {};
}

std::vector<TagSpec> CdxIndex::specs() const {
  std::vector<TagSpec> result;
  for (const CdxTag& tag : tags_) result.push_back(tag.spec);
  return result;
}

Status CdxIndex::Load(const std::string& path, const DbfLayout& layout, bool read_only) {
  tags_.clear();
  declared_.clear();
  Status s = file_.Open(path, read_only ? File::Mode::kReadOnly : File::Mode::kReadWrite);
  if (!s.ok()) return s;
  auto read = file_.ReadAll(kMaxIndexFile);
  if (!read.ok()) return read.status();
  const std::vector<uint8_t>& bytes = read.value();
  if (bytes.size() < kTagHeaderSize + kPageSize) return BadIndex("file too short");
  end_ = uint32_t((bytes.size() + kPageSize - 1) / kPageSize * kPageSize);

  TagHeader top;
  if (s = DecodeTagHeader(bytes.data(), true, &top); !s.ok()) return s;
  TagTree names(kTagNameLength);
  std::unordered_set<uint32_t> reserved{0, kPageSize};
  if (s = names.Load(bytes, top.root, reserved); !s.ok()) return s;
  if (names.size() > kMaxTags) return BadIndex("too many tags");

  std::vector<std::pair<uint32_t, std::string>> found;  // header page, name
  for (auto pos = names.First(); pos.valid(); names.Next(pos)) {
    const KeyEntry& e = names.At(pos);
    const std::string name = TrimTagName(e.key);
    const uint32_t header = e.rec;
    if (!ValidTagName(name)) return BadIndex("bad tag name");
    if (header == 0 || header % kPageSize != 0 || uint64_t(header) + kTagHeaderSize > bytes.size() ||
        names.HasPage(header) || names.HasPage(header + kPageSize)) {
      return BadIndex("tag header outside the file");
    }
    for (const auto& [page, other] : found) {
      if (other == name || page == header) return BadIndex("tag listed twice");
    }
    found.emplace_back(header, name);
    reserved.insert(header);
    reserved.insert(header + kPageSize);
  }
  // Tags in the order they were created, which is the order of their headers.
  std::sort(found.begin(), found.end());
  for (uint32_t page : names.Pages()) reserved.insert(page);

  for (const auto& [header_page, name] : found) {
    TagHeader header;
    if (s = DecodeTagHeader(bytes.data() + header_page, false, &header); !s.ok()) return s;
    TagSpec spec{name, header.key_expression, header.for_expression, header.descending, false};
    CdxTag tag;
    if (s = CompileTag(spec, layout, &tag); !s.ok()) return BadIndex("tag " + name + ": " + s.message());
    declared_.push_back(spec);
    if (tag.key.length() != header.key_length) return BadIndex("tag " + name + ": wrong key length");
    if (((header.options & kOptionFor) != 0) != !header.for_expression.empty()) {
      return BadIndex("tag " + name + ": FOR flag does not match");
    }
    tag.header_page = header_page;
    tag.written_root = header.root;
    if (s = tag.tree.Load(bytes, header.root, reserved); !s.ok()) return s;
    // No page may belong to two trees.
    for (uint32_t page : tag.tree.Pages()) reserved.insert(page);
    tags_.push_back(std::move(tag));
  }
  return {};
}

Status CdxIndex::Verify(const RecordSpan& records) const {
  std::vector<char> key;
  for (const CdxTag& tag : tags_) {
    std::vector<uint8_t> seen(size_t(records.count) + 1, 0);
    size_t expected = 0;
    for (uint32_t r = 1; r <= records.count; ++r) {
      if (tag.condition.Matches(records.record(r))) ++expected;
    }
    if (tag.tree.size() != expected) return BadIndex("tag " + tag.spec.name + " has the wrong key count");
    key.resize(size_t(tag.key.length()));
    for (auto pos = tag.tree.First(); pos.valid(); tag.tree.Next(pos)) {
      const KeyEntry& e = tag.tree.At(pos);
      if (e.rec < 1 || e.rec > records.count || seen[e.rec]) {
        return BadIndex("tag " + tag.spec.name + " has a bad record number");
      }
      seen[e.rec] = 1;
      const uint8_t* record = records.record(e.rec);
      tag.key.Evaluate(record, key.data());
      if (!tag.condition.Matches(record) || std::memcmp(key.data(), e.key.data(), key.size()) != 0) {
        return BadIndex("tag " + tag.spec.name + " does not match record " + std::to_string(e.rec));
      }
    }
  }
  return {};
}

// The whole file: the tag-of-tags (header at 0, its one leaf after it), then
// each tag's header and tree at the pages they were given.
std::vector<uint8_t> CdxIndex::EncodeImage(std::vector<CdxTag>& tags) const {
  std::vector<uint8_t> image(end_, 0);
  TagHeader top;
  top.root = kTagOfTagsRoot;
  top.key_length = kTagNameLength;
  top.options = kOptionCompact | kOptionCompound | kOptionStructure;
  EncodeTagHeader(top, image.data());  // no expressions: an empty pool
  std::vector<KeyEntry> names;
  for (const CdxTag& tag : tags) names.push_back({PadTagName(tag.spec.name), tag.header_page});
  std::sort(names.begin(), names.end(),
            [](const KeyEntry& a, const KeyEntry& b) { return CompareEntry(a.key, a.rec, b) < 0; });
  TagTree name_tree(kTagNameLength);
  name_tree.Build(names, [] { return kTagOfTagsRoot; });
  for (uint32_t page : name_tree.TakeDirtyPages()) name_tree.EncodePage(page, image.data() + page);
  for (CdxTag& tag : tags) {
    TagHeader header;
    header.root = tag.tree.root();
    header.key_length = tag.key.length();
    header.options = kOptionCompact | kOptionCompound |
                     (tag.spec.for_expression.empty() ? 0 : kOptionFor);
    header.descending = tag.spec.descending;
    header.key_expression = tag.spec.key_expression;
    header.for_expression = tag.spec.for_expression;
    EncodeTagHeader(header, image.data() + tag.header_page);
    tag.written_root = header.root;
    for (uint32_t page : tag.tree.TakeDirtyPages()) tag.tree.EncodePage(page, image.data() + page);
  }
  return image;
}

Status CdxIndex::Rebuild(const std::string& path, const DbfLayout& layout,
                         const std::vector<TagSpec>& specs, const RecordSpan& records,
                         const ProgressFn& progress, bool sync) {
  if (specs.size() > kMaxTags) return Status(kInvalidArgument, "too many tags");
  std::vector<CdxTag> tags(specs.size());
  for (size_t i = 0; i < specs.size(); ++i) {
    if (Status s = CompileTag(specs[i], layout, &tags[i]); !s.ok()) return s;
    for (size_t k = 0; k < i; ++k) {
      if (specs[k].name == specs[i].name) return Status(kInvalidArgument, "tag listed twice");
    }
  }
  end_ = kTagOfTagsRoot + kPageSize;
  const size_t total = std::max<size_t>(1, size_t(records.count) * std::max<size_t>(1, tags.size()));
  size_t done = 0;
  int reported = -1;
  auto report = [&](size_t now) {
    int percent = int(now * 100 / total);
    if (progress && percent != reported) progress(percent);
    reported = percent;
  };
  report(0);
  for (CdxTag& tag : tags) {
    tag.header_page = Allocate();
    Allocate();
    std::vector<KeyEntry> entries;
    entries.reserve(records.count);
    for (uint32_t r = 1; r <= records.count; ++r, ++done) {
      const uint8_t* record = records.record(r);
      if (tag.condition.Matches(record)) entries.push_back({tag.key.Evaluate(record), r});
      if ((r & 1023) == 0) report(done);
    }
    std::sort(entries.begin(), entries.end(), [](const KeyEntry& a, const KeyEntry& b) {
      return CompareEntry(a.key, a.rec, b) < 0;
    });
    tag.tree.Build(entries, [this] { return Allocate(); });
  }

  const std::vector<uint8_t> image = EncodeImage(tags);
  file_.Close();
  if (Status s = ReplaceFileAtomically(path, image, sync); !s.ok()) return s;
  if (Status s = file_.Open(path, File::Mode::kReadWrite); !s.ok()) return s;
  tags_ = std::move(tags);
  report(total);
  return {};
}

void CdxIndex::AddRecord(uint32_t recno, const uint8_t* record) {
  for (CdxTag& tag : tags_) {
    if (tag.condition.Matches(record)) {
      tag.tree.Insert(tag.key.Evaluate(record), recno, [this] { return Allocate(); });
    }
  }
}

void CdxIndex::RemoveRecord(uint32_t recno, const uint8_t* record) {
  for (CdxTag& tag : tags_) {
    if (tag.condition.Matches(record)) tag.tree.Erase(tag.key.Evaluate(record), recno);
  }
}

void CdxIndex::UpdateRecord(uint32_t recno, const uint8_t* before, const uint8_t* after) {
  for (CdxTag& tag : tags_) {
    const bool was = tag.condition.Matches(before);
    const bool is = tag.condition.Matches(after);
    const std::string old_key = tag.key.Evaluate(before);
    const std::string new_key = tag.key.Evaluate(after);
    if (was == is && old_key == new_key) continue;
    if (was) tag.tree.Erase(old_key, recno);
    if (is) tag.tree.Insert(new_key, recno, [this] { return Allocate(); });
  }
}

Status CdxIndex::Flush() {
  uint8_t page[kPageSize];
  for (CdxTag& tag : tags_) {
    for (uint32_t p : tag.tree.TakeDirtyPages()) {
      tag.tree.EncodePage(p, page);
      if (Status s = file_.WriteAt(p, page, kPageSize); !s.ok()) return s;
    }
  }
  for (CdxTag& tag : tags_) {
    if (tag.tree.root() == tag.written_root) continue;
    uint8_t root[4];
    PutLe32(root, tag.tree.root());
    if (Status s = file_.WriteAt(tag.header_page, root, sizeof root); !s.ok()) return s;
    tag.written_root = tag.tree.root();
  }
  return {};
}

}  // namespace veltrane::xbase
