#include "platform/xbase/table.h"

namespace veltrane::xbase {
namespace {
Status NotYet() { return Status(kWrongState, "table engine not implemented yet"); }
}  // namespace

struct Table::Impl {
  std::vector<FieldDef> fields;
  std::string filter;
};

Table::Table() : impl_(std::make_unique<Impl>()) {}
Table::~Table() = default;
Status Table::Create(const std::string&, const std::vector<FieldDef>&) { return NotYet(); }
std::vector<std::string> Table::Check(const std::string&) { return {"not implemented"}; }
Status Table::Open(const std::string&, const OpenOptions&) { return NotYet(); }
Status Table::Close() { return {}; }
bool Table::IsOpen() const { return false; }
Status Table::Flush() { return NotYet(); }
const std::vector<FieldDef>& Table::Fields() const { return impl_->fields; }
int Table::FieldIndex(std::string_view) const { return -1; }
std::string Table::MemoPath() const { return {}; }
std::string Table::IndexPath() const { return {}; }
bool Table::IndexWasRebuiltOnOpen() const { return false; }
Status Table::SetFilter(std::string_view) { return NotYet(); }
const std::string& Table::Filter() const { return impl_->filter; }
void Table::SetSkipDeleted(bool) {}
uint32_t Table::PhysicalCount() const { return 0; }
uint32_t Table::FilteredCount() const { return 0; }
uint32_t Table::RecNo() const { return 1; }
bool Table::HasCurrent() const { return false; }
bool Table::Bof() const { return true; }
bool Table::Eof() const { return true; }
Status Table::First() { return NotYet(); }
Status Table::Last() { return NotYet(); }
Status Table::Next() { return NotYet(); }
Status Table::Prior() { return NotYet(); }
Status Table::Go(uint32_t) { return NotYet(); }
Status Table::Refresh() { return NotYet(); }
bool Table::Deleted() const { return false; }
Status Table::CreateTag(const TagSpec&) { return NotYet(); }
std::vector<TagSpec> Table::Tags() const { return {}; }
int Table::TagNumber(std::string_view) const { return 0; }
Status Table::SetOrder(int) { return NotYet(); }
Status Table::SetOrder(std::string_view) { return NotYet(); }
int Table::ActiveOrder() const { return 0; }
Status Table::CloseIndexes() { return NotYet(); }
EditState Table::State() const { return EditState::kBrowse; }
Status Table::Append() { return NotYet(); }
Status Table::Edit() { return NotYet(); }
Status Table::Post() { return NotYet(); }
void Table::Cancel() {}
Status Table::Delete() { return NotYet(); }
Status Table::Recall() { return NotYet(); }
Result<std::string> Table::GetText(std::string_view) const { return NotYet(); }
Status Table::SetText(std::string_view, std::string_view) { return NotYet(); }
Result<bool> Table::GetLogical(std::string_view) const { return NotYet(); }
Status Table::SetLogical(std::string_view, bool) { return NotYet(); }
Result<Date> Table::GetDate(std::string_view) const { return NotYet(); }
Status Table::SetDate(std::string_view, Date) { return NotYet(); }
Result<int> Table::GetInteger(std::string_view) const { return NotYet(); }
Status Table::SetInteger(std::string_view, int) { return NotYet(); }
Result<bool> Table::IsBlank(std::string_view) const { return NotYet(); }
Status Table::SetBlank(std::string_view) { return NotYet(); }
Result<std::string> Table::ReadMemo(std::string_view) const { return NotYet(); }
Status Table::WriteMemo(std::string_view, std::string_view) { return NotYet(); }
Result<bool> Table::CopyMemoToFile(std::string_view, const std::string&) const { return NotYet(); }
Status Table::LoadMemoFromFile(std::string_view, const std::string&) { return NotYet(); }
void Table::SetProgressHandler(ProgressFn) {}
Status Table::Pack() { return NotYet(); }

}  // namespace veltrane::xbase
