#pragma once
// A structural .CDX file: the tag-of-tags at offset 0 and one tree per tag,
// all held in memory. Updates rewrite only the pages they change; a new or
// rebuilt file is written aside and renamed into place.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/xbase/cdx_node.h"
#include "platform/xbase/cdx_tree.h"
#include "platform/xbase/dbf_format.h"
#include "platform/xbase/expression.h"
#include "platform/xbase/file_io.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {

struct CdxTag {
  TagSpec spec;
  uint32_t header_page = 0;
  uint32_t written_root = 0;  // root pointer as it stands in the file
  KeyExpression key;
  ForCondition condition;
  TagTree tree;
};

// Same names, directions and expressions (compared as xBase compares them).
bool SameTagSpecs(const std::vector<TagSpec>& a, const std::vector<TagSpec>& b);

// Compiles a tag definition against a table's fields.
Status CompileTag(const TagSpec& spec, const DbfLayout& layout, CdxTag* out);

// The records a tag is built from: `count` records of `record_length` bytes.
struct RecordSpan {
  const uint8_t* data = nullptr;
  uint32_t count = 0;
  uint32_t record_length = 0;
  const uint8_t* record(uint32_t recno) const {
    return data + size_t(recno - 1) * record_length;
  }
};

class CdxIndex {
 public:
  // Reads the whole file and checks its structure (not yet against the table).
  Status Load(const std::string& path, const DbfLayout& layout, bool read_only = false);
  // Writes a new file holding `specs`, built from `records`, in place of any
  // old one, and keeps it open for updates.
  Status Rebuild(const std::string& path, const DbfLayout& layout,
                 const std::vector<TagSpec>& specs, const RecordSpan& records,
                 const ProgressFn& progress, bool sync);
  // Checks every tag against the table: each key present exactly once for the
  // records the FOR condition admits, with the right key bytes.
  Status Verify(const RecordSpan& records) const;

  std::vector<CdxTag>& tags() { return tags_; }
  const std::vector<CdxTag>& tags() const { return tags_; }
  std::vector<TagSpec> specs() const;
  // The tags whose headers could be read, even when a tree was damaged.
  const std::vector<TagSpec>& declared_specs() const { return declared_; }

  // Record changes: keys in and out of every tag.
  void AddRecord(uint32_t recno, const uint8_t* record);
  void RemoveRecord(uint32_t recno, const uint8_t* record);
  void UpdateRecord(uint32_t recno, const uint8_t* before, const uint8_t* after);

  Status Flush();  // changed pages, then changed root pointers
  Status Sync() { return file_.Sync(); }
  void Close() { file_.Close(); }

 private:
  uint32_t Allocate() {
    uint32_t page = end_;
    end_ += kPageSize;
    return page;
  }

  std::vector<uint8_t> EncodeImage(std::vector<CdxTag>& tags) const;

  File file_;
  std::vector<CdxTag> tags_;
  std::vector<TagSpec> declared_;
  uint32_t end_ = 0;
};

}  // namespace veltrane::xbase
