#include "platform/xbase/dbf_format.h"

#include <cstring>
#include <ctime>
#include <set>

#include "platform/xbase/bytes.h"

namespace veltrane::xbase {
namespace {

constexpr size_t kTableHeaderSize = 32;
constexpr size_t kDescriptorSize = 32;
constexpr size_t kMaxFields = 255;

bool ValidNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

Status CheckFieldDef(const FieldDef& f) {
  auto bad = [&](const std::string& why) {
    return Status(kInvalidArgument, "field " + f.name + ": " + why);
  };
  if (f.name.empty() || f.name.size() > 10) return bad("name must have 1 to 10 characters");
  for (char c : f.name) {
    if (!ValidNameChar(c)) return bad("name may hold only A-Z, 0-9 and _");
  }
  switch (f.type) {
    case 'C':
      if (f.width < 1 || f.width > 254) return bad("character width must be 1..254");
      break;
    case 'L':
      if (f.width != 1) return bad("logical width must be 1");
      break;
    case 'D':
      if (f.width != 8) return bad("date width must be 8");
      break;
    case 'M':
      if (f.width != 10) return bad("memo width must be 10");
      break;
    case 'N':
      if (f.width < 1 || f.width > 20) return bad("numeric width must be 1..20");
      if (f.decimals != 0 && f.decimals >= f.width - 1) return bad("too many decimals");
      if (f.decimals < 0) return bad("negative decimals");
      return {};
    default:
      return bad(std::string("unknown type '") + f.type + "'");
  }
  if (f.decimals != 0) return bad("only numeric fields have decimals");
  return {};
}

}  // namespace

bool DbfLayout::has_memo() const {
  for (const FieldDef& f : fields) {
    if (f.type == 'M') return true;
  }
  return false;
}

Status ValidateFieldDefs(const std::vector<FieldDef>& fields) {
  if (fields.empty()) return Status(kInvalidArgument, "a table needs at least one field");
  if (fields.size() > kMaxFields) return Status(kInvalidArgument, "too many fields");
  std::set<std::string> names;
  size_t length = 1;
  for (const FieldDef& f : fields) {
    if (Status s = CheckFieldDef(f); !s.ok()) return s;
    if (!names.insert(f.name).second) {
      return Status(kInvalidArgument, "field " + f.name + " appears twice");
    }
    length += size_t(f.width);
  }
  if (length > 65535) return Status(kInvalidArgument, "record too long");
  return {};
}

DbfLayout NewLayout(const std::vector<FieldDef>& fields) {
  DbfLayout layout;
  layout.fields = fields;
  layout.version = layout.has_memo() ? kVersionWithMemo : kVersionNoMemo;
  layout.header_length = uint32_t(kTableHeaderSize + kDescriptorSize * fields.size() + 1);
  uint32_t offset = 1;
  for (const FieldDef& f : fields) {
    layout.offsets.push_back(offset);
    offset += uint32_t(f.width);
  }
  layout.record_length = offset;
  return layout;
}

Result<DbfLayout> ParseDbfHeader(const uint8_t* data, size_t size, uint64_t file_size,
                                 bool* truncated) {
  auto corrupt = [](const std::string& why) { return Status(kCorrupt, "damaged table: " + why); };
  *truncated = false;
  if (file_size < kTableHeaderSize + kDescriptorSize + 1 || size < kTableHeaderSize) {
    return corrupt("file too short");
  }
  DbfLayout layout;
  layout.version = data[0];
  if (layout.version != kVersionNoMemo && layout.version != kVersionWithMemo) {
    return corrupt("unsupported version byte");
  }
  layout.record_count = Le32(data + 4);
  layout.header_length = Le16(data + 8);
  layout.record_length = Le16(data + 10);
  layout.flags = data[28];
  if (layout.header_length < kTableHeaderSize + kDescriptorSize + 1 ||
      layout.header_length > file_size || layout.header_length > size) {
    return corrupt("bad header length");
  }
  size_t max_fields = (layout.header_length - kTableHeaderSize - 1) / kDescriptorSize;
  uint32_t offset = 1;
  size_t pos = kTableHeaderSize;
  bool terminated = false;
  for (size_t i = 0; i <= max_fields && pos < layout.header_length; ++i, pos += kDescriptorSize) {
    if (data[pos] == kHeaderTerminator) {
      terminated = true;
      break;
    }
    if (i == max_fields || i == kMaxFields) break;
    const uint8_t* d = data + pos;
    FieldDef f;
    size_t len = 0;
    while (len < 11 && d[len] != 0) ++len;
    if (len == 11) return corrupt("field name not terminated");
    for (size_t k = len; k < 11; ++k) {
      if (d[k] != 0) return corrupt("field name not NUL-padded");
    }
    f.name.assign(reinterpret_cast<const char*>(d), len);
    f.type = char(d[11]);
    f.width = d[16];
    f.decimals = d[17];
    if (Status s = CheckFieldDef(f); !s.ok()) return corrupt(s.message());
    for (const FieldDef& other : layout.fields) {
      if (other.name == f.name) return corrupt("field " + f.name + " appears twice");
    }
    layout.fields.push_back(f);
    layout.offsets.push_back(offset);
    offset += uint32_t(f.width);
  }
  if (!terminated) return corrupt("no header terminator");
  if (layout.fields.empty()) return corrupt("no fields");
  if (offset != layout.record_length) return corrupt("record length does not match the fields");
  if (layout.has_memo() != (layout.version == kVersionWithMemo)) {
    return corrupt("version byte does not match the memo fields");
  }
  uint64_t room = (file_size - layout.header_length) / layout.record_length;
  if (layout.record_count > room) {
    layout.record_count = uint32_t(room);
    *truncated = true;
  }
  return layout;
}

void EncodeHeaderPrefix(const DbfLayout& layout, uint8_t out[8]) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  out[0] = layout.version;
  out[1] = uint8_t(local.tm_year % 100);  // year mod 100, as FoxPro writes it
  out[2] = uint8_t(local.tm_mon + 1);
  out[3] = uint8_t(local.tm_mday);
  PutLe32(out + 4, layout.record_count);
}

std::vector<uint8_t> EncodeDbfHeader(const DbfLayout& layout) {
  std::vector<uint8_t> h(layout.header_length, 0);
  EncodeHeaderPrefix(layout, h.data());
  PutLe16(h.data() + 8, layout.header_length);
  PutLe16(h.data() + 10, layout.record_length);
  h[28] = layout.flags;
  h[29] = kCodePageAnsi;
  size_t pos = kTableHeaderSize;
  for (size_t i = 0; i < layout.fields.size(); ++i, pos += kDescriptorSize) {
    const FieldDef& f = layout.fields[i];
    std::memcpy(h.data() + pos, f.name.data(), f.name.size());
    h[pos + 11] = uint8_t(f.type);
    PutLe32(h.data() + pos + 12, layout.offsets[i]);
    h[pos + 16] = uint8_t(f.width);
    h[pos + 17] = uint8_t(f.decimals);
  }
  h[pos] = kHeaderTerminator;
  return h;
}

bool IsValidDate(Date d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  int days = kDays[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
  return d.day <= days;
}

bool ParseDate(const char* t, Date* out) {
  // Runs once per record when keys are checked on open: keep it branch-light.
  unsigned digits[8];
  for (int i = 0; i < 8; ++i) {
    digits[i] = unsigned(uint8_t(t[i])) - '0';
    if (digits[i] > 9) return false;
  }
  const Date d{int(digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3]),
               int(digits[4] * 10 + digits[5]), int(digits[6] * 10 + digits[7])};
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.year < 1) return false;
  if (d.day > 28 && !IsValidDate(d)) return false;
  *out = d;
  return true;
}

void FormatDate(Date d, char* out) {
  if (d.blank()) {
    std::memset(out, ' ', 8);
    return;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
  std::memcpy(out, buf, 8);
}

bool LogicalValue(char c) { return c == 'T' || c == 't' || c == 'Y' || c == 'y'; }

bool ParseNumber(std::string_view text, long long* out) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t end = text.size();
  while (end > i && text[end - 1] == ' ') --end;
  if (i == end) {
    *out = 0;
    return true;
  }
  bool negative = text[i] == '-';
  if (negative) ++i;
  if (i == end || end - i > 18) return false;
  long long v = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = negative ? -v : v;
  return true;
}

bool FormatNumber(long long value, int width, char* out) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", value);
  if (n > width) return false;
  std::memset(out, ' ', size_t(width - n));
  std::memcpy(out + (width - n), buf, size_t(n));
  return true;
}

bool ParseMemoRef(std::string_view text, uint32_t* block) {
  uint64_t v = 0;
  for (char c : text) {
    if (c == ' ') continue;
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  *block = uint32_t(v);
  return true;
}

void FormatMemoRef(uint32_t block, int width, char* out) {
  if (block == 0) {
    std::memset(out, ' ', size_t(width));
    return;
  }
  FormatNumber(block, width, out);
}

}  // namespace veltrane::xbase
