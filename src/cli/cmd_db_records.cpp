// db init, list, add, set, delete and memo: record work on one table.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli/args.h"
#include "cli/cmd_db.h"

namespace veltrane::cli::db {
namespace {

namespace fs = std::filesystem;

bool isDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

bool validDate(std::string_view s) {
  if (s.size() != 8 || !isDigits(s)) return false;
  const int year = std::stoi(std::string(s.substr(0, 4)));
  const int month = std::stoi(std::string(s.substr(4, 2)));
  const int day = std::stoi(std::string(s.substr(6, 2)));
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return !(month == 2 && day == 29 && !leap);
}

// Checks a value against its field before the engine sees it, so nothing is
// cut or guessed: "" when fine, else the reason.
std::string checkValue(const xbase::FieldDef& f, std::string_view v) {
  const std::string name = f.name;
  switch (f.type) {
    case 'C':
      if (v.size() > static_cast<std::size_t>(f.width))
        return name + " holds at most " + std::to_string(f.width) + " characters";
      return {};
    case 'L':
      if (v.empty() || v == "T" || v == "F" || v == "t" || v == "f") return {};
      return name + " takes T or F";
    case 'D':
      if (v.empty() || validDate(v)) return {};
      return name + " takes a date as YYYYMMDD";
    case 'N': {
      const std::string_view digits = (!v.empty() && v.front() == '-') ? v.substr(1) : v;
      if (v.empty() || (isDigits(digits) && v.size() <= static_cast<std::size_t>(f.width))) return {};
      return name + " takes a whole number of at most " + std::to_string(f.width) + " characters";
    }
    case 'M':
      return {};
  }
  return name + " has a field type this tool does not write";
}

const xbase::FieldDef* findField(const xbase::Table& table, std::string_view name) {
  const int index = table.FieldIndex(name);
  if (index < 0) return nullptr;
  return &table.Fields()[static_cast<std::size_t>(index)];
}

// Applies FIELD=VALUE assignments to the record being appended or edited.
bool assign(xbase::Table& table, const std::string& tableName, const std::vector<std::string>& pairs) {
  for (const std::string& pair : pairs) {
    const auto eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) {
      fail("expected FIELD=VALUE, not \"" + pair + "\"");
      return false;
    }
    std::string name = pair.substr(0, eq);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string value = pair.substr(eq + 1);
    const xbase::FieldDef* field = findField(table, name);
    if (!field) {
      fail("no field " + name + " in " + tableName);
      return false;
    }
    if (const std::string why = checkValue(*field, value); !why.empty()) {
      fail(why + ": \"" + value + "\"");
      return false;
    }
    std::string upper = value;
    if (field->type == 'L')
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const xbase::Status st = field->type == 'M' ? table.WriteMemo(name, value) : table.SetText(name, upper);
    if (!st.ok()) {
      fail(name + ": " + st.message());
      return false;
    }
  }
  return true;
}

std::string cellText(xbase::Table& table, const xbase::FieldDef& f) {
  if (f.type == 'M') {
    const auto memo = table.ReadMemo(f.name);
    return memo.ok() ? "<" + std::to_string(memo.value().size()) + " bytes>" : "<unreadable>";
  }
  const auto text = table.GetText(f.name);
  if (!text.ok()) return "<" + text.status().message() + ">";
  std::string s = text.value();
  s.erase(0, s.find_first_not_of(' '));
  return s;
}

bool goTo(xbase::Table& table, uint32_t recno, const std::string& tableName) {
  if (!table.Go(recno).ok()) {
    fail(tableName + " shows no record " + std::to_string(recno));
    return false;
  }
  return true;
}

bool post(xbase::Table& table) {
  if (const xbase::Status st = table.Post(); !st.ok()) {
    table.Cancel();
    fail("cannot save the record: " + st.message());
    return false;
  }
  return true;
}

// Closes the table so that a failure to write reaches the exit status.
int finish(xbase::Table& table, const std::string& tableName) {
  if (const auto st = table.Close(); !st.ok()) return fail("cannot close " + tableName + ": " + st.message());
  return 0;
}

}  // namespace

int runInit(const std::vector<std::string>& args) {
  ArgSpec spec("db init DIR", "Creates the four tables and their index files in DIR, as the program does.");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 1, 1); rc >= 0) return rc;
  const std::string folder = folderArg(a.positional[0]);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return fail("cannot create " + folder + ": " + ec.message());
  int status = 0;
  for (data::FaxTable which : data::kAllFaxTables) {
    const data::TableSchema& schema = data::SchemaOf(which);
    const bool existed = fs::exists(folder + schema.fileName, ec);
    xbase::Table table;
    std::string error;
    if (!data::OpenTable(which, table, folder, &error)) {
      status = fail("cannot create or open " + folder + schema.fileName + ": " + error);
      continue;
    }
    if (finish(table, schema.fileName) != 0) {
      status = 1;
      continue;
    }
    std::cout << schema.fileName << (existed ? " already there" : " created") << "\n";
  }
  return status;
}

int runList(const std::vector<std::string>& args) {
  ArgSpec spec("db list DIR TABLE [--order TAG|--natural] [--deleted]",
               "Lists the records of a table, by default in the order of its tag.\n"
               "With --deleted, records marked as deleted are listed too (marked *), in natural\n"
               "order unless --order is given.");
  spec.option("--order", "TAG", "list in the order of this tag")
      .flag("--natural", "list in record-number order")
      .flag("--deleted", "include records marked as deleted");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 2, 2); rc >= 0) return rc;
  if (a.has("--order") && a.has("--natural")) return fail("--order and --natural exclude each other");
  const std::string folder = folderArg(a.positional[0]);
  const data::TableSchema* schema = tableArg(a.positional[1]);
  if (!schema) return 2;
  xbase::Table table;
  if (!openExisting(*schema, folder, table)) return 1;

  const bool withDeleted = a.has("--deleted");
  if (withDeleted) {
    table.SetSkipDeleted(false);
    if (const auto st = table.SetFilter(""); !st.ok()) return fail(st.message());
  }
  std::string order = withDeleted ? "" : schema->tag.name;
  if (a.has("--order")) order = a.get("--order", "");
  if (a.has("--natural")) order.clear();
  if (!order.empty() && table.TagNumber(order) == 0) return fail(schema->fileName + " has no tag " + order);
  if (const auto st = table.SetOrder(std::string_view(order)); !st.ok()) return fail(st.message());

  std::cout << "RECNO";
  for (const auto& f : table.Fields()) std::cout << '\t' << f.name;
  std::cout << '\n';
  for (auto st = table.First(); st.ok() && table.HasCurrent() && !table.Eof(); st = table.Next()) {
    std::cout << table.RecNo() << (table.Deleted() ? "*" : "");
    for (const auto& f : table.Fields()) std::cout << '\t' << cellText(table, f);
    std::cout << '\n';
  }
  return 0;
}

int runAdd(const std::vector<std::string>& args) {
  ArgSpec spec("db add DIR TABLE FIELD=VALUE ...", "Appends a record and prints its record number.");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 2); rc >= 0) return rc;
  const std::string folder = folderArg(a.positional[0]);
  const data::TableSchema* schema = tableArg(a.positional[1]);
  if (!schema) return 2;
  xbase::Table table;
  if (!openExisting(*schema, folder, table)) return 1;
  if (const auto st = table.Append(); !st.ok()) return fail(st.message());
  if (!assign(table, schema->fileName, {a.positional.begin() + 2, a.positional.end()})) {
    table.Cancel();
    return 1;
  }
  if (!post(table)) return 1;
  std::cout << table.RecNo() << "\n";
  return finish(table, schema->fileName);
}

int runSet(const std::vector<std::string>& args) {
  ArgSpec spec("db set DIR TABLE RECNO FIELD=VALUE ...", "Changes fields of a record.");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 4); rc >= 0) return rc;
  const std::string folder = folderArg(a.positional[0]);
  const data::TableSchema* schema = tableArg(a.positional[1]);
  uint32_t recno = 0;
  if (!schema) return 2;
  if (!recnoArg(a.positional[2], recno)) return 2;
  xbase::Table table;
  if (!openExisting(*schema, folder, table) || !goTo(table, recno, schema->fileName)) return 1;
  if (const auto st = table.Edit(); !st.ok()) return fail(st.message());
  if (!assign(table, schema->fileName, {a.positional.begin() + 3, a.positional.end()})) {
    table.Cancel();
    return 1;
  }
  return post(table) ? finish(table, schema->fileName) : 1;
}

int runDelete(const std::vector<std::string>& args) {
  ArgSpec spec("db delete DIR TABLE RECNO",
               "Marks a record as deleted; \"db pack\" removes it for good.");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 3, 3); rc >= 0) return rc;
  const std::string folder = folderArg(a.positional[0]);
  const data::TableSchema* schema = tableArg(a.positional[1]);
  uint32_t recno = 0;
  if (!schema) return 2;
  if (!recnoArg(a.positional[2], recno)) return 2;
  xbase::Table table;
  if (!openExisting(*schema, folder, table) || !goTo(table, recno, schema->fileName)) return 1;
  if (const auto st = table.Delete(); !st.ok()) return fail(st.message());
  return finish(table, schema->fileName);
}

int runMemo(const std::vector<std::string>& args) {
  ArgSpec spec("db memo DIR TABLE RECNO FIELD [--set FILE]",
               "Prints a memo, or replaces it with the contents of FILE.");
  spec.option("--set", "FILE", "store this file's contents in the memo");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 4, 4); rc >= 0) return rc;
  const std::string folder = folderArg(a.positional[0]);
  const data::TableSchema* schema = tableArg(a.positional[1]);
  uint32_t recno = 0;
  if (!schema) return 2;
  if (!recnoArg(a.positional[2], recno)) return 2;
  std::string field = a.positional[3];
  for (char& c : field) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  xbase::Table table;
  if (!openExisting(*schema, folder, table) || !goTo(table, recno, schema->fileName)) return 1;
  const xbase::FieldDef* def = findField(table, field);
  if (!def || def->type != 'M') return fail(schema->fileName + " has no memo field " + field);

  if (const auto file = a.get("--set")) {
    std::error_code ec;
    if (!fs::is_regular_file(*file, ec)) return fail("cannot read " + *file);
    if (const auto st = table.LoadMemoFromFile(field, *file); !st.ok()) return fail(st.message());
    return finish(table, schema->fileName);
  }
  const auto memo = table.ReadMemo(field);
  if (!memo.ok()) return fail(memo.status().message());
  std::cout.write(memo.value().data(), static_cast<std::streamsize>(memo.value().size()));
  return std::cout.good() ? 0 : 1;
}

}  // namespace veltrane::cli::db
