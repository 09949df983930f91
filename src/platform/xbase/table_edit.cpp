// Table: editing records, field access and memos.
//
// Write order (a crash at any point leaves files that open with every posted
// record): memo blocks first, then the record bytes, then the record count in
// the header, then the index pages. The index is checked on open and rebuilt
// when a crash left it behind the table.
#include <cctype>
#include <cstring>

#include "platform/xbase/table_impl.h"

namespace veltrane::xbase {
namespace {

Status NotOpen() { return Status(kWrongState, "table is not open"); }

std::string RightTrim(const char* p, size_t n) {
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0')) --n;
  return std::string(p, n);
}

}  // namespace

// ---------------------------------------------------------------- Impl helpers

Status Table::Impl::WriteRecord(uint32_t recno, const uint8_t* bytes, bool append) {
  const uint64_t offset = layout.RecordOffset(recno);
  unsynced = true;
  if (!append) return dbf.WriteAt(offset, bytes, layout.record_length);
  std::vector<uint8_t> out(bytes, bytes + layout.record_length);
  out.push_back(kEndOfFile);
  return dbf.WriteAt(offset, out.data(), out.size());
}

Result<int> Table::Impl::FindField(std::string_view name, const char* types) const {
  for (size_t i = 0; i < layout.fields.size(); ++i) {
    const std::string& field = layout.fields[i].name;
    bool same = field.size() == name.size();
    for (size_t k = 0; same && k < field.size(); ++k) {
      same = field[k] == std::toupper(uint8_t(name[k]));
    }
    if (!same) continue;
    if (std::strchr(types, layout.fields[i].type) == nullptr) {
      return Status(kInvalidArgument, "field " + field + " has type " + layout.fields[i].type);
    }
    return int(i);
  }
  return Status(kNotFound, "no field named " + std::string(name));
}

const uint8_t* Table::Impl::ReadSource() const {
  if (state != EditState::kBrowse) return buffer.data();
  return current == 0 ? nullptr : record(current);
}

Status Table::Impl::CheckWritable() const {
  if (!is_open()) return NotOpen();
  if (state == EditState::kBrowse) return Status(kWrongState, "table is not in edit or append mode");
  return {};
}

// ---------------------------------------------------------------- editing

EditState Table::State() const { return impl_->state; }

Status Table::Append() {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  if (t.state != EditState::kBrowse) {
    if (Status s = Post(); !s.ok()) return s;
  }
  t.buffer.assign(t.layout.record_length, uint8_t(' '));
  t.state = EditState::kInsert;
  return {};
}

Status Table::Edit() {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  if (t.state != EditState::kBrowse) return {};
  if (t.current == 0) return Status(kNoRecord, "no current record to edit");
  const uint8_t* rec = t.record(t.current);
  t.buffer.assign(rec, rec + t.layout.record_length);
  t.state = EditState::kEdit;
  return {};
}

Status Table::Post() {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  if (t.state == EditState::kBrowse) return {};
  if (t.state == EditState::kInsert) {
    const uint32_t recno = t.count() + 1;
    if (Status s = t.WriteRecord(recno, t.buffer.data(), true); !s.ok()) return s;
    t.layout.record_count = recno;
    if (Status s = t.WriteHeaderPrefix(); !s.ok()) {
      t.layout.record_count = recno - 1;
      return s;
    }
    t.records.insert(t.records.end(), t.buffer.begin(), t.buffer.end());
    t.live_count += t.deleted(recno) ? 0 : 1;
    if (t.index) t.index->AddRecord(recno, t.record(recno));
    t.current = recno;
  } else {
    const uint32_t recno = t.current;
    if (Status s = t.WriteRecord(recno, t.buffer.data(), false); !s.ok()) return s;
    std::vector<uint8_t> before(t.record(recno), t.record(recno) + t.layout.record_length);
    std::memcpy(t.record(recno), t.buffer.data(), t.buffer.size());
    if (t.index) t.index->UpdateRecord(recno, before.data(), t.record(recno));
  }
  t.state = EditState::kBrowse;
  t.bof = t.eof = false;
  if (t.sync_each()) {
    if (Status s = t.dbf.Sync(); !s.ok()) return s;
  }
  return t.FlushIndex();
}

void Table::Cancel() {
  impl_->state = EditState::kBrowse;
  impl_->buffer.clear();
}

Status Table::Delete() {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  if (t.state == EditState::kInsert) {
    Cancel();
    return {};
  }
  Cancel();
  if (t.current == 0) return Status(kNoRecord, "no current record to delete");
  const uint32_t recno = t.current;
  if (t.deleted(recno)) return {};
  // Where the view goes once the record disappears from it.
  uint32_t next = t.Step(recno, true);
  if (next == 0) next = t.Step(recno, false);
  const char flag = kDeletedFlag;
  t.unsynced = true;
  if (Status s = t.dbf.WriteAt(t.layout.RecordOffset(recno), &flag, 1); !s.ok()) return s;
  std::vector<uint8_t> before(t.record(recno), t.record(recno) + t.layout.record_length);
  t.record(recno)[0] = uint8_t(kDeletedFlag);
  --t.live_count;
  if (t.index) t.index->UpdateRecord(recno, before.data(), t.record(recno));
  const CdxTag* tag = t.active_tag();
  const bool still_shown = t.visible(recno) && (tag == nullptr || tag->condition.Matches(t.record(recno)));
  if (!still_shown) {
    t.current = next;
    t.eof = next == 0;
  }
  if (t.sync_each()) {
    if (Status s = t.dbf.Sync(); !s.ok()) return s;
  }
  return t.FlushIndex();
}

Status Table::Recall() {
  if (!IsOpen()) return NotOpen();
  Impl& t = *impl_;
  Cancel();
  if (t.current == 0) return Status(kNoRecord, "no current record to recall");
  const uint32_t recno = t.current;
  if (!t.deleted(recno)) return {};
  const char flag = kLiveFlag;
  t.unsynced = true;
  if (Status s = t.dbf.WriteAt(t.layout.RecordOffset(recno), &flag, 1); !s.ok()) return s;
  std::vector<uint8_t> before(t.record(recno), t.record(recno) + t.layout.record_length);
  t.record(recno)[0] = uint8_t(kLiveFlag);
  ++t.live_count;
  if (t.index) t.index->UpdateRecord(recno, before.data(), t.record(recno));
  if (t.sync_each()) {
    if (Status s = t.dbf.Sync(); !s.ok()) return s;
  }
  return t.FlushIndex();
}

// ---------------------------------------------------------------- fields

Result<std::string> Table::GetText(std::string_view field) const {
  const Impl& t = *impl_;
  if (!IsOpen()) return NotOpen();
  auto index = t.FindField(field, "CLDN");
  if (!index.ok()) return index.status();
  const uint8_t* src = t.ReadSource();
  if (src == nullptr) return Status(kNoRecord, "no current record");
  const FieldDef& f = t.layout.fields[size_t(index.value())];
  const char* p = reinterpret_cast<const char*>(src + t.layout.offsets[size_t(index.value())]);
  switch (f.type) {
    case 'L':
      if (*p == ' ' || *p == '?') return std::string();
      return std::string(LogicalValue(*p) ? "T" : "F");
    case 'D': {
      Date d;
      return ParseDate(p, &d) ? std::string(p, 8) : std::string();
    }
    case 'N': {
      std::string text = RightTrim(p, size_t(f.width));
      size_t start = text.find_first_not_of(' ');
      return start == std::string::npos ? std::string() : text.substr(start);
    }
    default:
      return RightTrim(p, size_t(f.width));
  }
}

Status Table::SetText(std::string_view field, std::string_view value) {
  Impl& t = *impl_;
  if (Status s = t.CheckWritable(); !s.ok()) return s;
  auto index = t.FindField(field, "CLDN");
  if (!index.ok()) return index.status();
  const FieldDef& f = t.layout.fields[size_t(index.value())];
  char* p = t.FieldInBuffer(index.value());
  auto bad = [&](const char* form) {
    return Status(kInvalidArgument, "\"" + std::string(value) + "\" is not " + form + " for " + f.name);
  };
  switch (f.type) {
    case 'L':
      if (value.empty()) {
        *p = ' ';
      } else if (value.size() == 1 && std::strchr("TtYy", value[0]) != nullptr) {
        *p = 'T';
      } else if (value.size() == 1 && std::strchr("FfNn", value[0]) != nullptr) {
        *p = 'F';
      } else {
        return bad("T or F");
      }
      return {};
    case 'D': {
      Date d;
      if (value.empty()) return SetDate(field, Date{});
      if (value.size() != 8 || !ParseDate(value.data(), &d)) return bad("a date YYYYMMDD");
      return SetDate(field, d);
    }
    case 'N': {
      long long number = 0;
      if (value.empty()) return SetBlank(field);
      if (!ParseNumber(value, &number) || f.decimals != 0) return bad("a whole number");
      if (!FormatNumber(number, f.width, p)) return bad("a number that fits");
      return {};
    }
    default: {
      const size_t n = std::min(value.size(), size_t(f.width));
      std::memcpy(p, value.data(), n);
      std::memset(p + n, ' ', size_t(f.width) - n);
      return {};
    }
  }
}

Result<bool> Table::GetLogical(std::string_view field) const {
  if (!IsOpen()) return NotOpen();
  auto index = impl_->FindField(field, "L");
  if (!index.ok()) return index.status();
  const uint8_t* src = impl_->ReadSource();
  if (src == nullptr) return Status(kNoRecord, "no current record");
  return LogicalValue(char(src[impl_->layout.offsets[size_t(index.value())]]));
}

Status Table::SetLogical(std::string_view field, bool value) {
  if (Status s = impl_->CheckWritable(); !s.ok()) return s;
  auto index = impl_->FindField(field, "L");
  if (!index.ok()) return index.status();
  *impl_->FieldInBuffer(index.value()) = value ? 'T' : 'F';
  return {};
}

Result<Date> Table::GetDate(std::string_view field) const {
  if (!IsOpen()) return NotOpen();
  auto index = impl_->FindField(field, "D");
  if (!index.ok()) return index.status();
  const uint8_t* src = impl_->ReadSource();
  if (src == nullptr) return Status(kNoRecord, "no current record");
  Date d;
  if (!ParseDate(reinterpret_cast<const char*>(src + impl_->layout.offsets[size_t(index.value())]), &d)) {
    return Date{};  // anything but a real date reads as blank
  }
  return d;
}

Status Table::SetDate(std::string_view field, Date value) {
  if (Status s = impl_->CheckWritable(); !s.ok()) return s;
  auto index = impl_->FindField(field, "D");
  if (!index.ok()) return index.status();
  if (!value.blank() && !IsValidDate(value)) return Status(kInvalidArgument, "not a valid date");
  FormatDate(value, impl_->FieldInBuffer(index.value()));
  return {};
}

Result<int> Table::GetInteger(std::string_view field) const {
  if (!IsOpen()) return NotOpen();
  auto index = impl_->FindField(field, "N");
  if (!index.ok()) return index.status();
  const uint8_t* src = impl_->ReadSource();
  if (src == nullptr) return Status(kNoRecord, "no current record");
  const FieldDef& f = impl_->layout.fields[size_t(index.value())];
  std::string_view text(reinterpret_cast<const char*>(src + impl_->layout.offsets[size_t(index.value())]),
                        size_t(f.width));
  long long value = 0;
  if (!ParseNumber(text, &value) || value > INT32_MAX || value < INT32_MIN) {
    return Status(kCorrupt, "field " + f.name + " does not hold a whole number");
  }
  return int(value);
}

Status Table::SetInteger(std::string_view field, int value) {
  if (Status s = impl_->CheckWritable(); !s.ok()) return s;
  auto index = impl_->FindField(field, "N");
  if (!index.ok()) return index.status();
  const FieldDef& f = impl_->layout.fields[size_t(index.value())];
  if (!FormatNumber(value, f.width, impl_->FieldInBuffer(index.value()))) {
    return Status(kInvalidArgument, std::to_string(value) + " does not fit in " + f.name);
  }
  return {};
}

Result<bool> Table::IsBlank(std::string_view field) const {
  if (!IsOpen()) return NotOpen();
  auto index = impl_->FindField(field, "CLDNM");
  if (!index.ok()) return index.status();
  const uint8_t* src = impl_->ReadSource();
  if (src == nullptr) return Status(kNoRecord, "no current record");
  const FieldDef& f = impl_->layout.fields[size_t(index.value())];
  const uint8_t* p = src + impl_->layout.offsets[size_t(index.value())];
  for (int i = 0; i < f.width; ++i) {
    if (p[i] != ' ') return false;
  }
  return true;
}

Status Table::SetBlank(std::string_view field) {
  if (Status s = impl_->CheckWritable(); !s.ok()) return s;
  auto index = impl_->FindField(field, "CLDNM");
  if (!index.ok()) return index.status();
  const FieldDef& f = impl_->layout.fields[size_t(index.value())];
  std::memset(impl_->FieldInBuffer(index.value()), ' ', size_t(f.width));
  return {};
}

// ---------------------------------------------------------------- memos

Result<std::string> Table::ReadMemo(std::string_view field) const {
  const Impl& t = *impl_;
  if (!IsOpen()) return NotOpen();
  auto index = t.FindField(field, "M");
  if (!index.ok()) return index.status();
  const uint8_t* src = t.ReadSource();
  if (src == nullptr) return Status(kNoRecord, "no current record");
  uint32_t block = 0;
  std::string_view ref(reinterpret_cast<const char*>(src + t.layout.offsets[size_t(index.value())]), 10);
  if (!ParseMemoRef(ref, &block)) return Status(kCorrupt, "damaged memo reference in " + t.dbf_path);
  if (block == 0) return std::string();
  return t.memo.Read(block);
}

Status Table::WriteMemo(std::string_view field, std::string_view data) {
  Impl& t = *impl_;
  if (!IsOpen()) return NotOpen();
  auto index = t.FindField(field, "M");
  if (!index.ok()) return index.status();
  const bool was_browsing = t.state == EditState::kBrowse;
  if (was_browsing) {
    if (Status s = Edit(); !s.ok()) return s;
  }
  uint32_t block = 0;
  if (!data.empty()) {
    t.unsynced = true;
    auto written = t.memo.Append(data);
    if (!written.ok()) {
      if (was_browsing) Cancel();
      return written.status();
    }
    block = written.value();
    // The memo must be on disk before any record points at it.
    if (t.sync_each()) {
      if (Status s = t.memo.Sync(); !s.ok()) return s;
    }
  }
  FormatMemoRef(block, 10, t.FieldInBuffer(index.value()));
  return was_browsing ? Post() : Status();
}

Result<bool> Table::CopyMemoToFile(std::string_view field, const std::string& path) const {
  auto memo = ReadMemo(field);
  if (!memo.ok()) return memo.status();
  if (memo.value().empty()) return false;
  File out;
  if (Status s = out.Open(path, File::Mode::kCreateTruncate); !s.ok()) return s;
  if (Status s = out.WriteAt(0, memo.value().data(), memo.value().size()); !s.ok()) return s;
  return true;
}

Status Table::LoadMemoFromFile(std::string_view field, const std::string& path) {
  File in;
  if (Status s = in.Open(path, File::Mode::kReadOnly); !s.ok()) return s;
  auto bytes = in.ReadAll(kMaxMemoLength);
  if (!bytes.ok()) return bytes.status();
  const auto& b = bytes.value();
  return WriteMemo(field, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

}  // namespace veltrane::xbase
