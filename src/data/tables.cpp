#include "data/tables.h"

#include <filesystem>

#include "data/ini_file.h"

namespace veltrane::data {
namespace {

using xbase::FieldDef;
using xbase::TagSpec;

TableSchema makeSchema(FaxTable table, std::string base, std::vector<FieldDef> fields, TagSpec tag) {
  tag.for_expression = std::string(kNotDeleted);
  tag.unique = false;
  return {table, base + ".DBF", base + ".CDX", std::move(fields), std::move(tag)};
}

const std::array<TableSchema, 4>& schemas() {
  static const std::array<TableSchema, 4> all = {
      makeSchema(FaxTable::Sent, "VLN",
                 {{"SUBJECT", 'C', 50, 0},
                  {"SENT", 'L', 1, 0},
                  {"DATESENT", 'D', 8, 0},
                  {"TIMESENT", 'C', 5, 0},
                  {"RECIPIENT", 'C', 35, 0},
                  {"PHONE", 'C', 25, 0},
                  {"PAGES", 'N', 2, 0},
                  {"LASTRESULT", 'C', 100, 0},
                  {"RTFCOVER", 'M', 10, 0},
                  {"RTFDOC", 'M', 10, 0}},
                 {"DATESENT", "DTOS(DATESENT)+TIMESENT", "", true, false}),
      makeSchema(FaxTable::Received, "VLNREC",
                 {{"DATEREC", 'D', 8, 0},
                  {"TIMEREC", 'C', 5, 0},
                  {"FROM", 'C', 20, 0},
                  {"PAGES", 'N', 2, 0},
                  {"FAXFILE", 'C', 12, 0},
                  {"NOTES", 'C', 60, 0}},
                 {"DATETIME", "DTOS(DATEREC)+TIMEREC", "", true, false}),
      makeSchema(FaxTable::Cover, "VLNCOV", {{"DESCRIPT", 'C', 35, 0}, {"COVER", 'M', 10, 0}},
                 {"DESCRIPT", "DESCRIPT", "", false, false}),
      makeSchema(FaxTable::Phone, "VLNPB", {{"NAME", 'C', 35, 0}, {"PHONE", 'C', 25, 0}},
                 {"NAME", "NAME", "", false, false}),
  };
  return all;
}

const char* roleName(FaxTable table) {
  switch (table) {
    case FaxTable::Sent: return "sent";
    case FaxTable::Received: return "received";
    case FaxTable::Cover: return "cover";
    case FaxTable::Phone: return "phone";
  }
  return "";
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

void setError(std::string* error, const std::string& message) {
  if (error) *error = message;
}

}  // namespace

const TableSchema& SchemaOf(FaxTable table) { return schemas()[static_cast<std::size_t>(table)]; }

const TableSchema* FindSchema(std::string_view name) {
  for (const TableSchema& s : schemas()) {
    const std::string_view base = std::string_view(s.fileName).substr(0, s.fileName.size() - 4);
    if (equalsIgnoreCase(name, s.fileName) || equalsIgnoreCase(name, base) ||
        equalsIgnoreCase(name, roleName(s.table)))
      return &s;
  }
  return nullptr;
}

bool MakeTable(FaxTable table, const std::string& dataFolder) {
  const TableSchema& schema = SchemaOf(table);
  const std::string path = dataFolder + schema.fileName;
  (void)xbase::Table::Create(path, schema.fields);
  return fileExists(path);
}

bool MakeFaxDBF(const std::string& dataFolder) { return MakeTable(FaxTable::Sent, dataFolder); }
bool MakeRecFaxDBF(const std::string& dataFolder) { return MakeTable(FaxTable::Received, dataFolder); }
bool MakeCoverDBF(const std::string& dataFolder) { return MakeTable(FaxTable::Cover, dataFolder); }
bool MakePhoneDBF(const std::string& dataFolder) { return MakeTable(FaxTable::Phone, dataFolder); }

bool OpenTable(FaxTable which, xbase::Table& table, const std::string& dataFolder, std::string* error) {
  const TableSchema& schema = SchemaOf(which);
  const std::string path = dataFolder + schema.fileName;
  if (!fileExists(path) && !MakeTable(which, dataFolder)) {
    setError(error, "Unable to create " + path);
    return false;
  }
  const bool logTable = which == FaxTable::Sent || which == FaxTable::Received;
  if (logTable) (void)table.Close();
  if (!table.IsOpen()) {
    xbase::OpenOptions options;
    // A damaged index is rebuilt with the table's own tag.
    options.index_tags = {schema.tag};
    if (const xbase::Status st = table.Open(path, options); !st.ok()) {
      setError(error, st.message());
      return false;
    }
  }
  table.SetSkipDeleted(true);

  // From here on the table is usable; a step that fails is left out.
  if (!fileExists(dataFolder + schema.indexFileName)) (void)table.CreateTag(schema.tag);
  switch (which) {
    case FaxTable::Sent:
      (void)table.First();
      (void)table.SetFilter(kNotDeleted);
      break;
    case FaxTable::Received:
      (void)table.SetFilter(kNotDeleted);
      break;
    case FaxTable::Cover:
    case FaxTable::Phone:
      (void)table.SetOrder(std::string_view(schema.tag.name));
      (void)table.SetFilter(kNotDeleted);
      break;
  }
  return true;
}

bool OpenFaxDBF(xbase::Table& t, const std::string& folder, std::string* error) {
  return OpenTable(FaxTable::Sent, t, folder, error);
}
bool OpenRecFaxDBF(xbase::Table& t, const std::string& folder, std::string* error) {
  return OpenTable(FaxTable::Received, t, folder, error);
}
bool OpenCoverDBF(xbase::Table& t, const std::string& folder, std::string* error) {
  return OpenTable(FaxTable::Cover, t, folder, error);
}
bool OpenPhoneDBF(xbase::Table& t, const std::string& folder, std::string* error) {
  return OpenTable(FaxTable::Phone, t, folder, error);
}

}  // namespace veltrane::data
