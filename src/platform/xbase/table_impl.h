#pragma once
// Private state of a Table, shared by the files that implement it.

#include <memory>
#include <string>
#include <vector>

#include "platform/xbase/cdx_index.h"
#include "platform/xbase/dbf_format.h"
#include "platform/xbase/file_io.h"
#include "platform/xbase/memo_file.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {

// Bytes left uninitialised on resize: a table's records are read over them at
// once, and zeroing tens of megabytes first would only cost time on open.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using ByteBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

// A table's live records and memos, renumbered, ready to replace the files.
struct PackedTable {
  DbfLayout layout;
  ByteBuffer image;  // the complete new table file
  size_t base = 0;   // offset of record 1 in `image`
  MemoImage memo;
};

struct Table::Impl {
  // files
  std::string dbf_path;
  std::string memo_path;
  std::string index_path;
  OpenOptions options;
  File dbf;
  MemoFile memo;
  std::unique_ptr<CdxIndex> index;  // null while no index file is open
  bool index_rebuilt = false;
  bool unsynced = false;  // something was written since the last fsync

  // table contents: the records are kept in memory, written through on change
  DbfLayout layout;
  // The table file image as read, cut after the last record: the records
  // start at `records_base` (the header length), or 0 after a pack.
  ByteBuffer records;
  size_t records_base = 0;
  uint32_t live_count = 0;

  // view
  std::string filter;
  bool filter_live = false;
  bool skip_deleted = false;
  int active_order = 0;
  uint32_t current = 0;  // 0 = no current record
  // Where the last step in tag order ended, so that walking the view does not
  // search the tree for every record.
  struct Cursor {
    const TagTree* tree = nullptr;
    uint64_t generation = 0;
    TagTree::Pos pos;
  };
  mutable Cursor cursor;
  bool bof = true;
  bool eof = true;

  // editing
  EditState state = EditState::kBrowse;
  std::vector<uint8_t> buffer;
  ProgressFn progress;

  bool is_open() const { return dbf.is_open(); }
  bool sync_each() const { return options.sync == SyncMode::kEveryOperation; }
  uint32_t count() const { return layout.record_count; }
  const uint8_t* record(uint32_t recno) const {
    return records.data() + records_base + size_t(recno - 1) * layout.record_length;
  }
  uint8_t* record(uint32_t recno) {
    return records.data() + records_base + size_t(recno - 1) * layout.record_length;
  }
  RecordSpan span() const { return {records.data() + records_base, count(), layout.record_length}; }
  bool deleted(uint32_t recno) const { return record(recno)[0] == uint8_t(kDeletedFlag); }
  bool hides_deleted() const { return filter_live || skip_deleted; }
  bool visible(uint32_t recno) const;
  const CdxTag* active_tag() const;

  // view movement in the active order
  uint32_t FirstVisible() const;
  uint32_t LastVisible() const;
  uint32_t Step(uint32_t from, bool forward) const;  // 0 when none
  void Reset();

  // index upkeep
  Status OpenIndex();
  Status RebuildIndex(const std::vector<TagSpec>& specs);
  Status WriteIndexFlag(bool present);
  Status FlushIndex();
  Status SyncAll();

  // pack
  Status BuildPacked(PackedTable* out) const;
  Status WritePackedAside(PackedTable& packed, File* fresh) const;
  Status SwapInPacked() const;

  // writes
  Status WriteHeaderPrefix();
  Status WriteRecord(uint32_t recno, const uint8_t* bytes, bool append);

  // field access
  Result<int> FindField(std::string_view name, const char* types) const;
  const uint8_t* ReadSource() const;  // edit buffer or current record; null when none
  Status CheckWritable() const;
  char* FieldInBuffer(int index) {
    return reinterpret_cast<char*>(buffer.data() + layout.offsets[size_t(index)]);
  }
};

// Finishes or undoes a pack that a crash interrupted (see table_pack.cpp).
Status RecoverInterruptedPack(const std::string& dbf_path);
std::string PackTempPath(const std::string& path);
std::string PackBackupPath(const std::string& path);

}  // namespace veltrane::xbase
