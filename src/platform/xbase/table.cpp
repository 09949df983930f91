// Table: opening, closing, the view (order, filter, position) and the index.
#include <cctype>
#include <cstring>

#include "platform/xbase/bytes.h"
#include "platform/xbase/expression.h"
#include "platform/xbase/table_impl.h"

namespace veltrane::xbase {
namespace {

constexpr uint64_t kMaxTableFile = 1ull << 32;

Status NotOpen() { return Status(kWrongState, "table is not open"); }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(b[i]))) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- Impl helpers

bool Table::Impl::visible(uint32_t recno) const {
  return recno >= 1 && recno <= count() && !(hides_deleted() && deleted(recno));
}

const CdxTag* Table::Impl::active_tag() const {
  if (active_order == 0 || !index) return nullptr;
  return &index->tags()[size_t(active_order - 1)];
}

uint32_t Table::Impl::FirstVisible() const {
  const CdxTag* tag = active_tag();
  if (tag == nullptr) {
    for (uint32_t r = 1; r <= count(); ++r) {
      if (visible(r)) return r;
    }
    return 0;
  }
  const TagTree& tree = tag->tree;
  auto pos = tag->spec.descending ? tree.Last() : tree.First();
  while (pos.valid() && !visible(tree.At(pos).rec)) {
    if (!(tag->spec.descending ? tree.Prev(pos) : tree.Next(pos))) break;
  }
  return pos.valid() ? tree.At(pos).rec : 0;
}

uint32_t Table::Impl::LastVisible() const {
  const CdxTag* tag = active_tag();
  if (tag == nullptr) {
    for (uint32_t r = count(); r >= 1; --r) {
      if (visible(r)) return r;
    }
    return 0;
  }
  const TagTree& tree = tag->tree;
  auto pos = tag->spec.descending ? tree.First() : tree.Last();
  while (pos.valid() && !visible(tree.At(pos).rec)) {
    if (!(tag->spec.descending ? tree.Next(pos) : tree.Prev(pos))) break;
  }
  return pos.valid() ? tree.At(pos).rec : 0;
}

uint32_t Table::Impl::Step(uint32_t from, bool forward) const {
  const CdxTag* tag = active_tag();
  if (tag == nullptr) {
    if (forward) {
      for (uint32_t r = from + 1; r <= count(); ++r) {
        if (visible(r)) return r;
      }
    } else {
      for (uint32_t r = from - 1; r >= 1; --r) {
        if (visible(r)) return r;
      }
    }
    return 0;
  }
  const TagTree& tree = tag->tree;
  TagTree::Pos pos;
  if (cursor.tree == &tree && cursor.generation == tree.generation() && cursor.pos.valid() &&
      tree.At(cursor.pos).rec == from) {
    pos = cursor.pos;
  } else {
    pos = tree.Find(tag->key.Evaluate(record(from)), from);
  }
  if (!pos.valid()) return 0;
  const bool up = forward != tag->spec.descending;
  while (up ? tree.Next(pos) : tree.Prev(pos)) {
    if (visible(tree.At(pos).rec)) {
      cursor = {&tree, tree.generation(), pos};
      return tree.At(pos).rec;
    }
  }
  return 0;
}

void Table::Impl::Reset() {
  current = FirstVisible();
  bof = true;
  eof = current == 0;
}

Status Table::Impl::WriteHeaderPrefix() {
  uint8_t prefix[8];
  EncodeHeaderPrefix(layout, prefix);
  unsynced = true;
  return dbf.WriteAt(0, prefix, sizeof prefix);
}

Status Table::Impl::WriteIndexFlag(bool present) {
  const uint8_t flags = present ? uint8_t(layout.flags | kFlagStructuralIndex)
                                : uint8_t(layout.flags & ~kFlagStructuralIndex);
  if (flags == layout.flags) return {};
  layout.flags = flags;
  unsynced = true;
  return dbf.WriteAt(28, &flags, 1);
}

Status Table::Impl::FlushIndex() {
  if (!index) return {};
  unsynced = true;
  if (Status s = index->Flush(); !s.ok()) return s;
  return sync_each() ? index->Sync() : Status();
}

Status Table::Impl::SyncAll() {
  if (!unsynced || options.sync == SyncMode::kNever) return {};
  unsynced = false;
  if (Status s = dbf.Sync(); !s.ok()) return s;
  if (memo.is_open()) {
    if (Status s = memo.Sync(); !s.ok()) return s;
  }
  return index ? index->Sync() : Status();
}

Status Table::Impl::RebuildIndex(const std::vector<TagSpec>& specs) {
  auto fresh = std::make_unique<CdxIndex>();
  index.reset();
  unsynced = true;
  Status s = fresh->Rebuild(index_path, layout, specs, span(), progress, sync_each());
  if (!s.ok()) return s;
  index = std::move(fresh);
  return WriteIndexFlag(true);
}

// The .CDX is derived data: when it is missing, damaged, stale after a crash
// or holds other tags than the caller expects, it is rebuilt from the table.
Status Table::Impl::OpenIndex() {
  index_rebuilt = false;
  std::vector<TagSpec> wanted = options.index_tags;
  if (FileExists(index_path)) {
    auto loaded = std::make_unique<CdxIndex>();
    if (loaded->Load(index_path, layout).ok() && loaded->Verify(span()).ok() &&
        (wanted.empty() || SameTagSpecs(wanted, loaded->specs()))) {
      index = std::move(loaded);
      return WriteIndexFlag(true);
    }
    if (wanted.empty()) wanted = loaded->declared_specs();
  }
  if (wanted.empty()) return WriteIndexFlag(false);
  index_rebuilt = true;
  return RebuildIndex(wanted);
}

// ---------------------------------------------------------------- Table

Table::Table() : impl_(std::make_unique<Impl>()) {}

Table::~Table() { Close(); }

Status Table::Open(const std::string& dbf_path, const OpenOptions& options) {
  Close();
  Impl& t = *impl_;
  if (Status s = RecoverInterruptedPack(dbf_path); !s.ok()) return s;
  if (Status s = t.dbf.Open(dbf_path, File::Mode::kReadWrite); !s.ok()) return s;
  if (Status s = t.dbf.LockExclusive(); !s.ok()) {
    t.dbf.Close();
    return s;
  }
  auto fail = [&](Status s) {
    t.dbf.Close();
    t.memo.Close();
    t.index.reset();
    return s;
  };
  auto size = t.dbf.Size();
  if (!size.ok()) return fail(size.status());
  if (size.value() > kMaxTableFile) return fail(Status(kTooLarge, "table too large: " + dbf_path));
  t.records.resize(size_t(size.value()));
  if (Status s = t.dbf.ReadAt(0, t.records.data(), t.records.size()); !s.ok()) return fail(s);
  bool truncated = false;
  auto layout = ParseDbfHeader(t.records.data(), t.records.size(), t.records.size(), &truncated);
  if (!layout.ok()) {
    return fail(Status(layout.status().code(), dbf_path + ": " + layout.status().message()));
  }
  t.layout = layout.value();
  t.options = options;
  t.dbf_path = dbf_path;
  t.memo_path = t.layout.has_memo() ? SiblingPath(dbf_path, "FPT") : "";
  t.index_path = SiblingPath(dbf_path, "CDX");
  t.records_base = t.layout.header_length;
  t.records.resize(t.records_base + size_t(t.layout.record_count) * t.layout.record_length);
  if (truncated) {
    // Records cut off by a damaged file: keep the whole ones and say so in the header.
    if (Status s = t.WriteHeaderPrefix(); !s.ok()) return fail(s);
  }
  t.live_count = 0;
  for (uint32_t r = 1; r <= t.count(); ++r) t.live_count += t.deleted(r) ? 0 : 1;
  if (t.layout.has_memo()) {
    if (Status s = t.memo.Open(t.memo_path); !s.ok()) return fail(s);
  }
  if (!t.OpenIndex().ok()) {
    // An index that cannot be rebuilt (a full disk, a read-only folder) must
    // not keep the table from opening: it is used without one, and the stale
    // file is found and rebuilt on a later open.
    t.index.reset();
    t.index_rebuilt = false;
  }
  t.filter.clear();
  t.filter_live = false;
  t.active_order = 0;
  t.state = EditState::kBrowse;
  t.Reset();
  return {};
}

Status Table::Close() {
  Impl& t = *impl_;
  if (!t.is_open()) return {};
  if (t.state != EditState::kBrowse) Cancel();
  Status result = t.FlushIndex();
  if (Status s = t.SyncAll(); result.ok()) result = s;
  t.index.reset();
  t.memo.Close();
  t.dbf.Close();  // also drops the lock
  t.records.clear();
  t.current = 0;
  t.active_order = 0;
  return result;
}

bool Table::IsOpen() const { return impl_->is_open(); }

Status Table::Flush() {
  if (!IsOpen()) return NotOpen();
  if (Status s = impl_->index ? impl_->index->Flush() : Status(); !s.ok()) return s;
  return impl_->SyncAll();
}

const std::vector<FieldDef>& Table::Fields() const { return impl_->layout.fields; }

int Table::FieldIndex(std::string_view name) const {
  const auto& fields = impl_->layout.fields;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (SameName(fields[i].name, name)) return int(i);
  }
  return -1;
}

std::string Table::MemoPath() const { return impl_->memo_path; }
std::string Table::IndexPath() const { return impl_->index_path; }
bool Table::IndexWasRebuiltOnOpen() const { return impl_->index_rebuilt; }

// ---------------------------------------------------------------- view

Status Table::SetFilter(std::string_view condition) {
  if (!IsOpen()) return NotOpen();
  auto compiled = ForCondition::Compile(condition);
  if (!compiled.ok()) return compiled.status();
  impl_->filter = std::string(condition);
  impl_->filter_live = compiled.value().live_only();
  if (!impl_->visible(impl_->current)) impl_->Reset();
  return {};
}

const std::string& Table::Filter() const { return impl_->filter; }

void Table::SetSkipDeleted(bool skip) {
  impl_->skip_deleted = skip;
  if (IsOpen() && !impl_->visible(impl_->current)) impl_->Reset();
}

uint32_t Table::PhysicalCount() const { return IsOpen() ? impl_->count() : 0; }

uint32_t Table::FilteredCount() const {
  if (!IsOpen()) return 0;
  const CdxTag* tag = impl_->active_tag();
  if (tag != nullptr && tag->condition.live_only()) return impl_->live_count;
  return impl_->hides_deleted() ? impl_->live_count : impl_->count();
}

uint32_t Table::RecNo() const {
  const Impl& t = *impl_;
  if (!IsOpen() || t.state == EditState::kInsert || t.current == 0) return PhysicalCount() + 1;
  return t.current;
}

bool Table::HasCurrent() const { return IsOpen() && impl_->current != 0; }
bool Table::Bof() const { return impl_->bof; }
bool Table::Eof() const { return impl_->eof; }

Status Table::First() {
  if (!IsOpen()) return NotOpen();
  Cancel();
  impl_->Reset();
  return {};
}

Status Table::Last() {
  if (!IsOpen()) return NotOpen();
  Cancel();
  impl_->current = impl_->LastVisible();
  impl_->eof = true;
  impl_->bof = impl_->current == 0;
  return {};
}

Status Table::Next() {
  if (!IsOpen()) return NotOpen();
  Cancel();
  Impl& t = *impl_;
  uint32_t next = t.current == 0 ? 0 : t.Step(t.current, true);
  if (next == 0) {
    t.eof = true;
  } else {
    t.current = next;
    t.bof = t.eof = false;
  }
  return {};
}

Status Table::Prior() {
  if (!IsOpen()) return NotOpen();
  Cancel();
  Impl& t = *impl_;
  uint32_t prior = t.current == 0 ? 0 : t.Step(t.current, false);
  if (prior == 0) {
    t.bof = true;
  } else {
    t.current = prior;
    t.bof = t.eof = false;
  }
  return {};
}

Status Table::Go(uint32_t recno) {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  const CdxTag* tag = t.active_tag();
  bool shown = t.visible(recno) && (tag == nullptr || tag->condition.Matches(t.record(recno)));
  if (!shown) return Status(kNotFound, "record " + std::to_string(recno) + " is not in the view");
  Cancel();
  t.current = recno;
  t.bof = t.eof = false;
  return {};
}

Status Table::Refresh() {
  if (!IsOpen()) return NotOpen();
  if (!impl_->visible(impl_->current)) impl_->Reset();
  return {};
}

bool Table::Deleted() const {
  return HasCurrent() && impl_->deleted(impl_->current);
}

// ---------------------------------------------------------------- order

std::vector<TagSpec> Table::Tags() const {
  return impl_->index ? impl_->index->specs() : std::vector<TagSpec>{};
}

int Table::TagNumber(std::string_view tag_name) const {
  if (!impl_->index) return 0;
  const auto& tags = impl_->index->tags();
  for (size_t i = 0; i < tags.size(); ++i) {
    if (SameName(tags[i].spec.name, tag_name)) return int(i + 1);
  }
  return 0;
}

Status Table::SetOrder(int number) {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  const int tags = t.index ? int(t.index->tags().size()) : 0;
  if (number < 0 || number > tags) {
    return Status(kNotFound, "no tag number " + std::to_string(number));
  }
  t.active_order = number;
  const CdxTag* tag = t.active_tag();
  if (t.current == 0 || (tag != nullptr && !tag->condition.Matches(t.record(t.current)))) t.Reset();
  return {};
}

Status Table::SetOrder(std::string_view tag_name) {
  if (tag_name.empty()) return SetOrder(0);
  int number = TagNumber(tag_name);
  if (number == 0) return Status(kNotFound, "no tag named " + std::string(tag_name));
  return SetOrder(number);
}

int Table::ActiveOrder() const { return impl_->active_order; }

Status Table::CloseIndexes() {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  Status s = t.FlushIndex();
  if (t.index) t.index->Close();
  t.index.reset();
  t.active_order = 0;
  return s;
}

Status Table::CreateTag(const TagSpec& spec) {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  if (t.state != EditState::kBrowse) return Status(kWrongState, "post or cancel the edit first");
  CdxTag probe;
  if (Status s = CompileTag(spec, t.layout, &probe); !s.ok()) return s;
  std::vector<TagSpec> specs;
  if (t.index) {
    for (const TagSpec& old : t.index->specs()) {
      if (!SameName(old.name, spec.name)) specs.push_back(old);
    }
  }
  specs.push_back(spec);
  if (Status s = t.RebuildIndex(specs); !s.ok()) return s;
  if (t.sync_each()) {
    if (Status s = t.dbf.Sync(); !s.ok()) return s;
  }
  return SetOrder(TagNumber(spec.name));
}

void Table::SetProgressHandler(ProgressFn handler) { impl_->progress = std::move(handler); }

}  // namespace veltrane::xbase
