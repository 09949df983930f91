// Shared pieces of the "db" command and its sub-commands.
#pragma once

#include <string>
#include <vector>

#include "data/tables.h"

namespace veltrane::cli::db {

// Each sub-command gets the words after its name.
int runInit(const std::vector<std::string>& args);
int runList(const std::vector<std::string>& args);
int runAdd(const std::vector<std::string>& args);
int runSet(const std::vector<std::string>& args);
int runDelete(const std::vector<std::string>& args);
int runMemo(const std::vector<std::string>& args);
int runPack(const std::vector<std::string>& args);
int runCheck(const std::vector<std::string>& args);

// Prints "veltrane-fax db: <message>" to stderr and returns 1.
int fail(const std::string& message);

// The folder argument with its trailing '/'.
std::string folderArg(const std::string& dir);

// Finds TABLE (file name, base name or role) or prints the choices.
const data::TableSchema* tableArg(const std::string& name);

// Opens an existing table of the data folder the way the program does.
// Prints the error and returns false when the table is missing or will not open.
bool openExisting(const data::TableSchema& schema, const std::string& folder, xbase::Table& table);

// A record number argument (1-based); prints an error when it is not one.
bool recnoArg(const std::string& text, uint32_t& recno);

}  // namespace veltrane::cli::db
