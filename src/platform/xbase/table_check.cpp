// Table::Check: validation of a table's files without changing them, for
// people who keep these files (a command-line "check" reports the lines).
#include <cstring>

#include "platform/xbase/table_impl.h"

namespace veltrane::xbase {
namespace {

constexpr uint64_t kMaxTableFile = 1ull << 32;
constexpr size_t kMaxProblems = 50;

class Problems {
 public:
  void Add(std::string line) {
    if (lines_.size() < kMaxProblems) lines_.push_back(std::move(line));
    ++total_;
  }
  std::vector<std::string> Finish() {
    if (total_ > lines_.size()) {
      lines_.push_back("... and " + std::to_string(total_ - lines_.size()) + " more problems");
    }
    return std::move(lines_);
  }

 private:
  std::vector<std::string> lines_;
  size_t total_ = 0;
};

void CheckRecord(const DbfLayout& layout, const uint8_t* rec, uint32_t recno, const MemoFile* memo,
                 Problems& out) {
  const std::string where = "record " + std::to_string(recno);
  if (rec[0] != uint8_t(kLiveFlag) && rec[0] != uint8_t(kDeletedFlag)) {
    out.Add(where + ": bad deletion flag");
  }
  for (size_t i = 0; i < layout.fields.size(); ++i) {
    const FieldDef& f = layout.fields[i];
    const char* p = reinterpret_cast<const char*>(rec + layout.offsets[i]);
    const std::string_view text(p, size_t(f.width));
    const bool blank = text.find_first_not_of(' ') == std::string_view::npos;
    const std::string what = where + " " + f.name + ": ";
    Date date;
    long long number = 0;
    uint32_t block = 0;
    switch (f.type) {
      case 'D':
        if (!blank && !ParseDate(p, &date)) out.Add(what + "not a date");
        break;
      case 'N':
        if (f.decimals == 0 && !ParseNumber(text, &number)) out.Add(what + "not a number");
        break;
      case 'L':
        if (std::strchr("TtYyFfNn ?", *p) == nullptr) out.Add(what + "not a logical value");
        break;
      case 'M':
        if (!ParseMemoRef(text, &block)) {
          out.Add(what + "bad memo reference");
        } else if (block != 0 && memo != nullptr) {
          auto data = memo->Read(block);
          if (!data.ok()) out.Add(what + data.status().message());
        }
        break;
      default:
        break;
    }
  }
}

void CheckIndex(const std::string& path, const DbfLayout& layout, const RecordSpan& records,
                const std::vector<TagSpec>& expected, Problems& out) {
  const bool exists = FileExists(path);
  if ((layout.flags & kFlagStructuralIndex) != 0 && !exists) out.Add("index file missing: " + path);
  if (!exists) return;
  if ((layout.flags & kFlagStructuralIndex) == 0) out.Add("table header does not mark its index");
  CdxIndex index;
  Status s = index.Load(path, layout, true);
  if (s.ok()) s = index.Verify(records);
  if (!s.ok()) {
    out.Add(path + ": " + s.message() + " (rebuilt on the next open)");
    return;
  }
  if (!expected.empty() && !SameTagSpecs(expected, index.specs())) {
    out.Add(path + ": holds other tags than the table needs (rebuilt on the next open)");
  }
}

}  // namespace

std::vector<std::string> Table::Check(const std::string& dbf_path,
                                      const std::vector<TagSpec>& expected_tags) {
  Problems out;
  const std::string memo_path = SiblingPath(dbf_path, "FPT");
  for (const std::string& f : {dbf_path, memo_path}) {
    if (FileExists(PackTempPath(f)) || FileExists(PackBackupPath(f))) {
      out.Add("an interrupted pack left files beside " + f + " (cleaned up on the next open)");
    }
  }
  File file;
  if (Status s = file.Open(dbf_path, File::Mode::kReadOnly); !s.ok()) {
    out.Add(s.message());
    return out.Finish();
  }
  if (Status s = file.LockExclusive(); !s.ok()) {
    out.Add(s.message());
    return out.Finish();
  }
  auto bytes = file.ReadAll(kMaxTableFile);
  if (!bytes.ok()) {
    out.Add(bytes.status().message());
    return out.Finish();
  }
  const std::vector<uint8_t>& b = bytes.value();
  bool truncated = false;
  auto layout = ParseDbfHeader(b.data(), b.size(), b.size(), &truncated);
  if (!layout.ok()) {
    out.Add(dbf_path + ": " + layout.status().message());
    return out.Finish();
  }
  const DbfLayout& l = layout.value();
  if (truncated) out.Add("table file is cut short: only " + std::to_string(l.record_count) + " whole records");
  const uint64_t end = l.RecordOffset(l.record_count + 1);
  if (!truncated && (end >= b.size() || b[end] != kEndOfFile)) out.Add("no end-of-file mark after the last record");
  MemoFile memo;
  const MemoFile* memo_ptr = nullptr;
  if (l.has_memo()) {
    if (Status s = memo.Open(memo_path, true); !s.ok()) {
      out.Add(s.message());
    } else {
      memo_ptr = &memo;
    }
  }
  RecordSpan records{b.data() + l.header_length, l.record_count, l.record_length};
  for (uint32_t r = 1; r <= l.record_count; ++r) CheckRecord(l, records.record(r), r, memo_ptr, out);
  CheckIndex(SiblingPath(dbf_path, "CDX"), l, records, expected_tags, out);
  return out.Finish();
}

}  // namespace veltrane::xbase
