#pragma once
// The .DBF table file: header, field descriptors and field value encodings.
//
// Table header (32 bytes, little-endian):
//   0     version: 0x03 no memo, 0xF5 with an .FPT memo file
//   1..3  date of last update: year mod 100, month, day
//   4     LE32 record count (deleted records included)
//   8     LE16 header length = offset of record 1
//   10    LE16 record length = 1 + sum of field widths
//   12..27 reserved, written 0
//   28    flags: 0x01 = a structural .CDX exists
//   29    code-page mark (0x03 = Windows ANSI)
// Field descriptor (32 bytes each, from offset 32):
//   0..10 name, NUL-padded   11 type letter   12 LE32 displacement in record
//   16 width   17 decimals   18..31 zero
// Then 0x0D, optional filler up to the header length, the records, and 0x1A.
// Record: byte 0 is the deletion flag (' ' live, '*' deleted), then the
// fields in descriptor order, each exactly its width.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/status.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {

constexpr uint8_t kVersionNoMemo = 0x03;
constexpr uint8_t kVersionWithMemo = 0xF5;
constexpr uint8_t kFlagStructuralIndex = 0x01;
constexpr uint8_t kCodePageAnsi = 0x03;
constexpr uint8_t kHeaderTerminator = 0x0D;
constexpr uint8_t kEndOfFile = 0x1A;
constexpr char kLiveFlag = ' ';
constexpr char kDeletedFlag = '*';

struct DbfLayout {
  uint8_t version = kVersionNoMemo;
  uint8_t flags = 0;
  uint32_t record_count = 0;
  uint32_t header_length = 0;
  uint32_t record_length = 0;
  std::vector<FieldDef> fields;
  std::vector<uint32_t> offsets;  // of each field inside the record

  bool has_memo() const;
  uint64_t RecordOffset(uint32_t recno) const {  // recno is 1-based
    return uint64_t(header_length) + uint64_t(recno - 1) * record_length;
  }
};

// Checks a field list for Create: names, types, widths, duplicates.
Status ValidateFieldDefs(const std::vector<FieldDef>& fields);
// Layout of a new table with FoxPro-style header length (no filler byte).
DbfLayout NewLayout(const std::vector<FieldDef>& fields);
// Parses and validates the header of a table file whose first `size` bytes
// are given (the whole file, or at least its header). `file_size` is the real
// size; record_count is cut to the whole records present and `truncated` set.
Result<DbfLayout> ParseDbfHeader(const uint8_t* data, size_t size, uint64_t file_size,
                                 bool* truncated);
std::vector<uint8_t> EncodeDbfHeader(const DbfLayout& layout);
// Bytes 0..7 of the header: version, today's date, record count.
void EncodeHeaderPrefix(const DbfLayout& layout, uint8_t out[8]);

// ---- field values ----
bool ParseDate(const char* text8, Date* out);  // false unless 8 digits forming a real date
void FormatDate(Date date, char* out8);         // blank -> 8 spaces
bool IsValidDate(Date date);
bool LogicalValue(char c);
// Numeric text: spaces around an optional '-' and digits; blank = 0.
bool ParseNumber(std::string_view text, long long* out);
bool FormatNumber(long long value, int width, char* out);  // false when it does not fit
// Memo reference: digits and spaces only; 0 = no memo.
bool ParseMemoRef(std::string_view text, uint32_t* block);
void FormatMemoRef(uint32_t block, int width, char* out);  // 0 -> spaces

}  // namespace veltrane::xbase
