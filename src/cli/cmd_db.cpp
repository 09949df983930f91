// veltrane-fax db: look after the four tables from the command line.
#include "cli/cmd_db.h"

#include <charconv>
#include <filesystem>
#include <iostream>

#include "cli/command.h"

namespace veltrane::cli::db {

namespace {

struct SubCommand {
  const char* name;
  const char* usage;
  int (*run)(const std::vector<std::string>&);
};

const SubCommand kSubCommands[] = {
    {"init", "init DIR                       create the four tables (and their indexes)", runInit},
    {"list", "list DIR TABLE [--order TAG|--natural] [--deleted]", runList},
    {"add", "add DIR TABLE FIELD=VALUE ...    append a record", runAdd},
    {"set", "set DIR TABLE RECNO FIELD=VALUE ...", runSet},
    {"delete", "delete DIR TABLE RECNO         mark a record as deleted", runDelete},
    {"memo", "memo DIR TABLE RECNO FIELD [--set FILE]", runMemo},
    {"pack", "pack DIR                       remove deleted records, rebuild every index", runPack},
    {"check", "check DIR                      validate every file; non-zero exit on damage", runCheck},
};

void printUsage(std::ostream& out) {
  out << "usage: veltrane-fax db SUBCOMMAND ...\n\n";
  for (const SubCommand& s : kSubCommands) out << "  db " << s.usage << "\n";
  out << "\nTABLE is a file name (VLN.DBF), a base name (vlnpb) or sent, received, cover, phone.\n"
         "Values are the fields' text forms: dates YYYYMMDD, logicals T or F, numbers as digits.\n";
}

int runDb(const std::vector<std::string>& args) {
  if (args.empty()) {
    printUsage(std::cerr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    printUsage(std::cout);
    return 0;
  }
  for (const SubCommand& s : kSubCommands)
    if (args[0] == s.name) return s.run(std::vector<std::string>(args.begin() + 1, args.end()));
  std::cerr << "veltrane-fax db: unknown sub-command \"" << args[0] << "\"\n";
  printUsage(std::cerr);
  return 2;
}

}  // namespace

int fail(const std::string& message) {
  std::cerr << "veltrane-fax db: " << message << "\n";
  return 1;
}

std::string folderArg(const std::string& dir) { return data::WithTrailingSeparator(dir); }

const data::TableSchema* tableArg(const std::string& name) {
  const data::TableSchema* schema = data::FindSchema(name);
  if (!schema)
    std::cerr << "veltrane-fax db: unknown table \"" << name
              << "\" (VLN.DBF, VLNREC.DBF, VLNCOV.DBF, VLNPB.DBF or sent, received, cover, phone)\n";
  return schema;
}

bool openExisting(const data::TableSchema& schema, const std::string& folder, xbase::Table& table) {
  std::error_code ec;
  if (!std::filesystem::exists(folder + schema.fileName, ec)) {
    fail("no table " + schema.fileName + " in " + folder + " (run \"veltrane-fax db init\")");
    return false;
  }
  std::string error;
  if (!data::OpenTable(schema.table, table, folder, &error)) {
    fail("cannot open " + folder + schema.fileName + ": " + error);
    return false;
  }
  return true;
}

bool recnoArg(const std::string& text, uint32_t& recno) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), recno);
  if (ec != std::errc() || end != text.data() + text.size() || recno == 0) {
    fail("RECNO must be a record number (1, 2, ...), not \"" + text + "\"");
    return false;
  }
  return true;
}

}  // namespace veltrane::cli::db

VELTRANE_CLI_COMMAND("db", "look after the tables: init, list, add, set, delete, memo, pack, check",
                     veltrane::cli::db::runDb);
