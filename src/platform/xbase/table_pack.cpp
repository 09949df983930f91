// Table: creating tables, packing them, and undoing or finishing a pack that
// a crash interrupted.
//
// Pack order: the new .DBF and .FPT are written complete under temporary
// names and flushed; the old pair is renamed to backup names; the new pair is
// renamed into place; the backups are deleted; the index is rebuilt. On open:
// backups together with a temporary file mean the swap was cut short (the old
// pair goes back); backups alone mean the new pair is complete (backups go).
// The two files are only ever used as a pair: block numbers in one fit only
// the other.
#include <cstring>

#include "platform/xbase/table_impl.h"

namespace veltrane::xbase {

std::string PackTempPath(const std::string& path) { return path + ".NEW"; }
std::string PackBackupPath(const std::string& path) { return path + ".OLD"; }

Status Table::Create(const std::string& dbf_path, const std::vector<FieldDef>& fields) {
  if (Status s = ValidateFieldDefs(fields); !s.ok()) return s;
  if (FileExists(dbf_path)) return Status(kAlreadyExists, "table already exists: " + dbf_path);
  DbfLayout layout = NewLayout(fields);
  if (layout.has_memo()) {
    MemoImage memo;
    const std::string memo_path = SiblingPath(dbf_path, "FPT");
    if (Status s = ReplaceFileAtomically(memo_path, memo.bytes(), true); !s.ok()) return s;
  }
  std::vector<uint8_t> bytes = EncodeDbfHeader(layout);
  bytes.push_back(kEndOfFile);
  File file;
  if (Status s = file.Open(dbf_path, File::Mode::kCreateNew); !s.ok()) return s;
  if (Status s = file.WriteAt(0, bytes.data(), bytes.size()); !s.ok()) return s;
  if (Status s = file.Sync(); !s.ok()) return s;
  return SyncDirectoryOf(dbf_path);
}

Status RecoverInterruptedPack(const std::string& dbf_path) {
  const std::string memo_path = SiblingPath(dbf_path, "FPT");
  const std::string files[2] = {dbf_path, memo_path};
  bool backups = false;
  bool temps = false;
  for (const std::string& f : files) {
    backups = backups || FileExists(PackBackupPath(f));
    temps = temps || FileExists(PackTempPath(f));
  }
  if (!backups && !temps) return {};
  // Someone packing right now holds the lock on whichever file sits at the
  // table's name (or on the backup while the names are being swapped).
  const std::string probe_path = FileExists(dbf_path) ? dbf_path : PackBackupPath(dbf_path);
  File probe;
  if (FileExists(probe_path)) {
    if (Status s = probe.Open(probe_path, File::Mode::kReadOnly); !s.ok()) return s;
    if (Status s = probe.LockExclusive(); !s.ok()) return s;
  }
  for (const std::string& f : files) {
    if (backups && temps && FileExists(PackBackupPath(f))) {
      if (Status s = RenameFile(PackBackupPath(f), f); !s.ok()) return s;
    }
  }
  for (const std::string& f : files) {
    if (Status s = RemoveFile(PackTempPath(f)); !s.ok()) return s;
    if (Status s = RemoveFile(PackBackupPath(f)); !s.ok()) return s;
  }
  return SyncDirectoryOf(dbf_path);
}

// New contents in memory: the live records, their memos copied with new
// block numbers.
Status Table::Impl::BuildPacked(PackedTable* out) const {
  out->layout = layout;
  const std::vector<uint8_t> header = EncodeDbfHeader(layout);
  out->image.assign(header.begin(), header.end());
  out->base = header.size();
  out->image.reserve(out->base + size_t(live_count) * layout.record_length + 1);
  out->memo = MemoImage(memo.is_open() ? memo.block_size() : kDefaultMemoBlockSize);
  int reported = -1;
  for (uint32_t r = 1; r <= count(); ++r) {
    const int percent = int(uint64_t(r) * 100 / count());
    if (progress && percent != reported) progress(percent);
    reported = percent;
    if (deleted(r)) continue;
    const size_t at = out->image.size();
    out->image.insert(out->image.end(), record(r), record(r) + layout.record_length);
    for (size_t f = 0; f < layout.fields.size(); ++f) {
      if (layout.fields[f].type != 'M') continue;
      char* ref = reinterpret_cast<char*>(out->image.data() + at + layout.offsets[f]);
      uint32_t block = 0;
      if (!ParseMemoRef(std::string_view(ref, 10), &block)) {
        return Status(kCorrupt, "damaged memo reference in record " + std::to_string(r));
      }
      if (block == 0) continue;
      auto text = memo.Read(block);
      if (!text.ok()) return text.status();
      FormatMemoRef(text.value().empty() ? 0 : out->memo.Add(text.value()), 10, ref);
    }
  }
  out->layout.record_count = uint32_t((out->image.size() - out->base) / layout.record_length);
  uint8_t prefix[8];
  EncodeHeaderPrefix(out->layout, prefix);
  std::memcpy(out->image.data(), prefix, sizeof prefix);
  out->image.push_back(kEndOfFile);
  return {};
}

// The new files under temporary names, flushed; the new table file is locked
// before it gets the table's name so that no other opener slips in.
Status Table::Impl::WritePackedAside(PackedTable& packed, File* fresh) const {
  const bool sync = sync_each();
  if (Status s = fresh->Open(PackTempPath(dbf_path), File::Mode::kCreateTruncate); !s.ok()) return s;
  if (Status s = fresh->LockExclusive(); !s.ok()) return s;
  if (Status s = fresh->WriteAt(0, packed.image.data(), packed.image.size()); !s.ok()) return s;
  if (sync) {
    if (Status s = fresh->Sync(); !s.ok()) return s;
  }
  if (packed.layout.has_memo()) {
    File memo_file;
    const auto& bytes = packed.memo.bytes();
    Status s = memo_file.Open(PackTempPath(memo_path), File::Mode::kCreateTruncate);
    if (s.ok()) s = memo_file.WriteAt(0, bytes.data(), bytes.size());
    if (s.ok() && sync) s = memo_file.Sync();
    if (!s.ok()) return s;
  }
  return sync ? SyncDirectoryOf(dbf_path) : Status();
}

// Old pair to backup names, new pair into place, backups removed.
Status Table::Impl::SwapInPacked() const {
  auto sync_folder = [&] { return sync_each() ? SyncDirectoryOf(dbf_path) : Status(); };
  std::vector<std::string> pair{dbf_path};
  if (layout.has_memo()) pair.push_back(memo_path);
  for (const std::string& f : pair) {
    if (Status s = RenameFile(f, PackBackupPath(f)); !s.ok()) return s;
  }
  for (const std::string& f : pair) {
    if (Status s = RenameFile(PackTempPath(f), f); !s.ok()) return s;
  }
  if (Status s = sync_folder(); !s.ok()) return s;
  for (const std::string& f : pair) {
    if (Status s = RemoveFile(PackBackupPath(f)); !s.ok()) return s;
  }
  return sync_folder();
}

Status Table::Pack() {
  if (!IsOpen()) return Status(kWrongState, "table is not open");
  Impl& t = *impl_;
  if (t.state != EditState::kBrowse) return Status(kWrongState, "post or cancel the edit first");
  if (Status s = t.FlushIndex(); !s.ok()) return s;
  PackedTable packed;
  File fresh;
  if (Status s = t.BuildPacked(&packed); !s.ok()) return s;
  if (Status s = t.WritePackedAside(packed, &fresh); !s.ok()) return s;
  if (Status s = t.SwapInPacked(); !s.ok()) return s;

  t.unsynced = true;
  t.dbf = std::move(fresh);
  t.layout = packed.layout;
  packed.image.pop_back();  // the end-of-file mark is not a record
  t.records = std::move(packed.image);
  t.records_base = packed.base;
  t.live_count = t.count();
  if (t.layout.has_memo()) {
    if (Status s = t.memo.Open(t.memo_path); !s.ok()) return s;
  }
  if (t.progress) t.progress(100);
  if (t.index) {
    if (Status s = t.RebuildIndex(t.index->specs()); !s.ok()) return s;
  }
  if (t.active_order > (t.index ? int(t.index->tags().size()) : 0)) t.active_order = 0;
  t.Reset();
  return {};
}

}  // namespace veltrane::xbase
