// The four tables of the program: their schemas, index tags, and the
// operations that create them and open them (creating what is missing).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_folder.h"
#include "platform/xbase/table.h"

namespace veltrane::data {

enum class FaxTable { Sent, Received, Cover, Phone };

inline constexpr std::array<FaxTable, 4> kAllFaxTables = {FaxTable::Sent, FaxTable::Received,
                                                           FaxTable::Cover, FaxTable::Phone};

// Every table view hides records marked as deleted with this filter, and every
// tag carries it as its FOR condition.
inline constexpr std::string_view kNotDeleted = ".not. deleted()";

struct TableSchema {
  FaxTable table;
  std::string fileName;       // "VLN.DBF"
  std::string indexFileName;  // "VLN.CDX"
  std::vector<xbase::FieldDef> fields;  // in physical order
  xbase::TagSpec tag;         // the one tag of the table's compound index
};

const TableSchema& SchemaOf(FaxTable table);
// The schema whose file name, base name ("vlnpb") or role ("sent",
// "received", "cover", "phone") matches, ignoring case; nullptr when none does.
const TableSchema* FindSchema(std::string_view name);

// Create operations: write the empty table file with its fields, no index.
// True when the file exists afterwards.
bool MakeFaxDBF(const std::string& dataFolder = DataFolder());
bool MakeRecFaxDBF(const std::string& dataFolder = DataFolder());
bool MakeCoverDBF(const std::string& dataFolder = DataFolder());
bool MakePhoneDBF(const std::string& dataFolder = DataFolder());
bool MakeTable(FaxTable table, const std::string& dataFolder);

// Open operations: create the table when missing, open it exclusively, create
// its tag when the index file is missing, then (ignoring errors from here on)
// set the active order and the filter as each table wants. The view skips
// deleted records. False when the table can neither be created nor opened;
// `error` (optional) then holds the engine's message.
bool OpenFaxDBF(xbase::Table& table, const std::string& dataFolder = DataFolder(),
                std::string* error = nullptr);
bool OpenRecFaxDBF(xbase::Table& table, const std::string& dataFolder = DataFolder(),
                   std::string* error = nullptr);
bool OpenCoverDBF(xbase::Table& table, const std::string& dataFolder = DataFolder(),
                  std::string* error = nullptr);
bool OpenPhoneDBF(xbase::Table& table, const std::string& dataFolder = DataFolder(),
                  std::string* error = nullptr);
bool OpenTable(FaxTable table, xbase::Table& object, const std::string& dataFolder,
               std::string* error = nullptr);

}  // namespace veltrane::data
