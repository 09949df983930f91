#pragma once
// A FoxPro 2 table (.DBF) with its memo file (.FPT) and structural compound
// index (.CDX), opened exclusively, seen through one cursor: the view.
//
// The view has an active order (a tag, or natural record order), an optional
// filter (only ".not. deleted()" is understood) and a "skip deleted" switch;
// both hide records marked as deleted. Edits follow the dataset pattern:
// Append or Edit, set fields, Post (or Cancel). Every change is written in an
// order that leaves readable files after a crash at any point; the index is
// derived data, checked on open and rebuilt when it does not match the table.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/status.h"

namespace veltrane::xbase {

struct FieldDef {
  std::string name;  // upper case, 1..10 characters A-Z 0-9 _
  char type = 'C';   // C, L, D, N, M
  int width = 1;     // C 1..254, L 1, D 8, N 1..20, M 10
  int decimals = 0;
};

struct TagSpec {
  std::string name;            // upper case, at most 10 characters
  std::string key_expression;  // e.g. "DTOS(DATESENT)+TIMESENT"
  std::string for_expression;  // "" or ".not. deleted()"
  bool descending = false;
  bool unique = false;  // not supported: must stay false
};

struct Date {
  int year = 0;  // 0 = blank date
  int month = 0;
  int day = 0;
  bool blank() const { return year == 0; }
  friend bool operator==(const Date&, const Date&) = default;
};

// Percentage done, 0..100, of a pack or an index build.
using ProgressFn = std::function<void(int percent)>;

enum class SyncMode {
  kEveryOperation,  // fsync after each post, delete, pack, index build (safe against power loss)
  kOnClose,         // fsync only on Close and Flush (a killed process still loses nothing)
  kNever,           // no fsync at all, for scratch tables (the write order still holds)
};

struct OpenOptions {
  // The tags the structural index must hold. When the .CDX is missing or
  // damaged it is rebuilt with these tags; empty = rebuild a damaged index from
  // the tag definitions it still holds, and leave a missing one missing.
  std::vector<TagSpec> index_tags;
  SyncMode sync = SyncMode::kEveryOperation;
};

enum class EditState { kBrowse, kEdit, kInsert };

class Table {
 public:
  Table();
  ~Table();  // closes (an unposted append or edit is cancelled)
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Writes a new, empty table (and an empty memo file when a field is M), no
  // index. Refuses to overwrite an existing file (kAlreadyExists).
  static Status Create(const std::string& dbf_path, const std::vector<FieldDef>& fields);

  // Validates the files of a table without changing them; one line per problem
  // found (empty = sound). The table must not be open elsewhere. With
  // `expected_tags`, an index holding other tags is reported too.
  static std::vector<std::string> Check(const std::string& dbf_path,
                                        const std::vector<TagSpec>& expected_tags = {});

  // Opens the table exclusively (a second opener, in this or another process,
  // gets kLocked) with its memo file and, when present, its .CDX. An
  // interrupted pack is finished or undone first. The view starts at the
  // first record in natural order, with no filter.
  Status Open(const std::string& dbf_path, const OpenOptions& options = {});
  Status Close();
  bool IsOpen() const;
  // Writes what is pending and fsyncs the files.
  Status Flush();

  const std::vector<FieldDef>& Fields() const;
  int FieldIndex(std::string_view name) const;  // -1 when absent
  std::string MemoPath() const;                 // "" when the table has no memo field
  std::string IndexPath() const;
  bool IndexWasRebuiltOnOpen() const;

  // ---- the view ----
  Status SetFilter(std::string_view condition);  // "" or ".not. deleted()"
  const std::string& Filter() const;
  void SetSkipDeleted(bool skip);

  uint32_t PhysicalCount() const;  // records in the file, deleted ones included
  uint32_t FilteredCount() const;  // records the view shows
  // Physical number of the current record; PhysicalCount() + 1 when there is
  // none (empty view, or a new record not yet posted).
  uint32_t RecNo() const;
  bool HasCurrent() const;
  bool Bof() const;  // a First/Prior hit the start
  bool Eof() const;  // a Next hit the end (or the view is empty)
  // Moving the view drops an unposted append or edit: post it first.
  Status First();
  Status Last();
  Status Next();
  Status Prior();
  Status Go(uint32_t recno);  // kNotFound when the view does not show that record
  Status Refresh();
  bool Deleted() const;  // the current record is marked deleted

  // ---- order and index ----
  // Creates (or replaces) a tag in the structural index, creating the .CDX
  // when missing, and makes it the active order. Reports progress.
  Status CreateTag(const TagSpec& spec);
  std::vector<TagSpec> Tags() const;
  int TagNumber(std::string_view tag_name) const;  // 1-based; 0 when absent
  Status SetOrder(int number);                     // 0 = natural order
  Status SetOrder(std::string_view tag_name);      // "" = natural order
  int ActiveOrder() const;
  // Closes the index file: the order becomes natural and no tag is kept up to
  // date until CreateTag opens (or makes) it again.
  Status CloseIndexes();

  // ---- editing ----
  EditState State() const;
  Status Append();  // a blank new record, posted by Post (a pending edit is posted first)
  Status Edit();    // the current record
  Status Post();
  void Cancel();
  // Marks the current record (an unposted edit is dropped, an unposted append
  // simply discarded); the view moves on to the next record, or the previous
  // one at the end.
  Status Delete();
  Status Recall();  // clears the mark of the current record

  // Field access by name on the current record (or the edit buffer).
  Result<std::string> GetText(std::string_view field) const;  // stored text, right-trimmed
  Status SetText(std::string_view field, std::string_view value);  // text form of any non-memo type
  Result<bool> GetLogical(std::string_view field) const;
  Status SetLogical(std::string_view field, bool value);
  Result<Date> GetDate(std::string_view field) const;  // blank date -> Date{}
  Status SetDate(std::string_view field, Date value);
  Result<int> GetInteger(std::string_view field) const;  // blank -> 0
  Status SetInteger(std::string_view field, int value);
  Result<bool> IsBlank(std::string_view field) const;
  Status SetBlank(std::string_view field);

  // Memos. In browse state the change is written at once; in edit or insert
  // state the memo text is stored now and the record refers to it from Post.
  Result<std::string> ReadMemo(std::string_view field) const;
  Status WriteMemo(std::string_view field, std::string_view data);  // "" = no memo
  // false when the memo is empty (the file is then not written).
  Result<bool> CopyMemoToFile(std::string_view field, const std::string& path) const;
  Status LoadMemoFromFile(std::string_view field, const std::string& path);

  // ---- maintenance ----
  void SetProgressHandler(ProgressFn handler);  // empty = none
  // Removes records marked deleted (new .DBF/.FPT written aside, then swapped
  // in), then rebuilds the open tags. The view goes to the first record.
  Status Pack();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace veltrane::xbase
