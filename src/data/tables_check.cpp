#include "data/tables_check.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "data/ini_file.h"

namespace veltrane::data {
namespace {

namespace fs = std::filesystem;

// A scratch folder that disappears with the check.
class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("veltrane-check-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string baseOf(const std::string& fileName) { return fileName.substr(0, fileName.size() - 4); }

// Expressions compare without regard to case or spaces: other tools store
// them in their own spelling.
bool sameExpression(std::string_view a, std::string_view b) {
  auto squeeze = [](std::string_view s) {
    std::string out;
    for (char c : s)
      if (c != ' ') out += c;
    return out;
  };
  return equalsIgnoreCase(squeeze(a), squeeze(b));
}

void compareFields(const xbase::Table& t, const TableSchema& schema, std::vector<std::string>& problems) {
  const auto& have = t.Fields();
  const auto& want = schema.fields;
  if (have.size() != want.size()) {
    problems.push_back("has " + std::to_string(have.size()) + " fields, the program's table has " +
                       std::to_string(want.size()));
    return;
  }
  for (std::size_t i = 0; i < want.size(); ++i) {
    const auto& h = have[i];
    const auto& w = want[i];
    if (h.name != w.name || h.type != w.type || h.width != w.width || h.decimals != w.decimals)
      problems.push_back("field " + std::to_string(i + 1) + " is " + h.name + " " + h.type + std::to_string(h.width) +
                         ", expected " + w.name + " " + w.type + std::to_string(w.width));
  }
}

void compareTags(const xbase::Table& t, const TableSchema& schema, std::vector<std::string>& problems) {
  const auto tags = t.Tags();
  const xbase::TagSpec& want = schema.tag;
  const bool match = tags.size() == 1 && tags[0].name == want.name &&
                     sameExpression(tags[0].key_expression, want.key_expression) &&
                     sameExpression(tags[0].for_expression, want.for_expression) &&
                     tags[0].descending == want.descending;
  if (!match)
    problems.push_back(schema.indexFileName + " does not hold exactly the tag " + want.name + " (" +
                       want.key_expression + ", FOR " + want.for_expression +
                       (want.descending ? ", descending)" : ", ascending)"));
}

// Reads every field and memo of every record, deleted ones included.
void readEveryRecord(xbase::Table& t, std::size_t maxProblems, std::vector<std::string>& problems) {
  std::size_t found = 0;
  t.SetSkipDeleted(false);
  (void)t.SetFilter("");
  (void)t.SetOrder(0);
  for (auto st = t.First(); st.ok() && t.HasCurrent() && !t.Eof(); st = t.Next()) {
    for (const auto& field : t.Fields()) {
      const xbase::Status fieldStatus =
          field.type == 'M' ? t.ReadMemo(field.name).status() : t.GetText(field.name).status();
      if (fieldStatus.ok()) continue;
      if (found++ < maxProblems)
        problems.push_back("record " + std::to_string(t.RecNo()) + ", " + field.name + ": " +
                           fieldStatus.message());
    }
  }
  if (found > maxProblems)
    problems.push_back(std::to_string(found - maxProblems) + " more unreadable fields");
}

}  // namespace

TableCheckReport CheckTable(FaxTable which, const std::string& dataFolder, std::size_t maxRecordProblems) {
  const TableSchema& schema = SchemaOf(which);
  TableCheckReport report;
  std::error_code ec;
  const fs::path table = fs::path(dataFolder) / schema.fileName;
  if (!fs::exists(table, ec)) return report;
  report.present = true;

  ScratchFolder scratch;
  for (const std::string& name : {schema.fileName, baseOf(schema.fileName) + ".FPT", schema.indexFileName}) {
    const fs::path from = fs::path(dataFolder) / name;
    if (!fs::exists(from, ec)) continue;
    fs::copy_file(from, scratch.path() / name, ec);
    if (ec) {
      report.problems.push_back("cannot read " + name + ": " + ec.message());
      return report;
    }
  }
  const bool hadIndex = fs::exists(fs::path(dataFolder) / schema.indexFileName, ec);

  xbase::Table t;
  xbase::OpenOptions options;
  options.sync = xbase::SyncMode::kOnClose;
  if (const xbase::Status st = t.Open((scratch.path() / schema.fileName).string(), options); !st.ok()) {
    report.problems.push_back(st.message());
    return report;
  }
  report.records = t.PhysicalCount();
  if (hadIndex && t.IndexWasRebuiltOnOpen())
    report.problems.push_back(schema.indexFileName + " does not match the table (rebuilt when next opened)");
  compareFields(t, schema, report.problems);
  if (hadIndex) compareTags(t, schema, report.problems);
  readEveryRecord(t, maxRecordProblems, report.problems);
  (void)t.Close();
  return report;
}

}  // namespace veltrane::data
