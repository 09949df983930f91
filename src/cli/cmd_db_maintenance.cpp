// db pack and db check: the maintenance of all four tables.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "cli/args.h"
#include "cli/cmd_db.h"
#include "data/ini_file.h"
#include "data/rebuild.h"
#include "data/settings.h"

namespace veltrane::cli::db {
namespace {

namespace fs = std::filesystem;

// A text progress bar on stderr: redrawn in place on a terminal; elsewhere
// (logs, pipes) one line with the final state of each step.
class ProgressBar {
 public:
  ProgressBar() : terminal_(::isatty(STDERR_FILENO) != 0) {}
  ~ProgressBar() { endStep(); }

  void step(const std::string& text) {
    endStep();
    if (text.empty()) return;
    std::cout << text << std::endl;
    active_ = true;
    percent_ = 0;
    draw();
  }
  void progress(int percent) {
    if (!active_ || percent == percent_) return;
    percent_ = percent;
    if (terminal_) draw();
  }

 private:
  void draw() const {
    constexpr int kWidth = 40;
    const int filled = percent_ * kWidth / 100;
    std::cerr << (terminal_ ? "\r" : "") << "  [" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << percent_ << "%"
              << (terminal_ ? "" : "\n") << std::flush;
  }
  void endStep() {
    if (!active_) return;
    if (terminal_) std::cerr << "\n";
    else draw();
    active_ = false;
  }

  bool terminal_;
  bool active_ = false;
  int percent_ = 0;
};

// Expressions compare without regard to case or spaces: other tools store
// them in their own spelling.
bool equalsIgnoreCaseOrSpaces(std::string_view a, std::string_view b) {
  auto squeeze = [](std::string_view s) {
    std::string out;
    for (char c : s)
      if (c != ' ') out += c;
    return out;
  };
  return data::equalsIgnoreCase(squeeze(a), squeeze(b));
}

bool sameFields(const std::vector<xbase::FieldDef>& a, const std::vector<xbase::FieldDef>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].width != b[i].width ||
        a[i].decimals != b[i].decimals)
      return false;
  return true;
}

bool sameTag(const xbase::TagSpec& a, const xbase::TagSpec& b) {
  return equalsIgnoreCaseOrSpaces(a.key_expression, b.key_expression) && a.name == b.name &&
         a.descending == b.descending && equalsIgnoreCaseOrSpaces(a.for_expression, b.for_expression);
}

}  // namespace

int runPack(const std::vector<std::string>& args) {
  ArgSpec spec("db pack DIR",
               "Removes the records marked as deleted from all four tables and builds each\n"
               "table's index file anew (the program's \"Rebuild Indexes\").");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 1, 1); rc >= 0) return rc;
  const std::string folder = folderArg(a.positional[0]);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return fail("no folder " + folder);

  xbase::Table sent, received, phone, cover;
  std::string error;
  if (!data::OpenFaxDBF(sent, folder, &error)) return fail("cannot open VLN.DBF: " + error);
  if (!data::OpenRecFaxDBF(received, folder, &error)) return fail("cannot open VLNREC.DBF: " + error);
  const uint32_t before = sent.PhysicalCount() + received.PhysicalCount();

  xbase::Status st;
  {
    ProgressBar bar;
    data::RebuildCallbacks callbacks;
    callbacks.onStep = [&bar](const std::string& text) { bar.step(text); };
    callbacks.onProgress = [&bar](int percent) { bar.progress(percent); };
    st = data::RebuildIndexes(sent, received, phone, cover, callbacks, folder);
  }
  if (!st.ok()) return fail(st.message());
  const uint32_t after = sent.PhysicalCount() + received.PhysicalCount();
  if (const auto closed = sent.Close(); !closed.ok()) return fail(closed.message());
  if (const auto closed = received.Close(); !closed.ok()) return fail(closed.message());
  std::cout << "Done: " << (before - after) << " deleted fax records removed.\n";
  return 0;
}

int runCheck(const std::vector<std::string>& args) {
  ArgSpec spec("db check DIR",
               "Validates the tables, memo files and index files in DIR without changing\n"
               "them, and the settings file. Exits with 1 when anything is damaged.");
  ParsedArgs a;
  if (int rc = parseArgs(spec, args, a, 1, 1); rc >= 0) return rc;
  const std::string folder = folderArg(a.positional[0]);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return fail("no folder " + folder);

  int damaged = 0;
  auto report = [&damaged](const std::string& file, const std::string& problem) {
    std::cout << file << ": " << problem << "\n";
    ++damaged;
  };
  for (data::FaxTable which : data::kAllFaxTables) {
    const data::TableSchema& schema = data::SchemaOf(which);
    const std::string path = folder + schema.fileName;
    if (!fs::exists(path, ec)) {
      std::cout << schema.fileName << ": not present (created when first needed)\n";
      continue;
    }
    const std::vector<std::string> problems = xbase::Table::Check(path);
    for (const std::string& p : problems) report(schema.fileName, p);
    if (!problems.empty()) continue;

    // The files are sound: now compare them with what the program expects.
    xbase::Table table;
    if (const auto st = table.Open(path); !st.ok()) {
      report(schema.fileName, st.message());
      continue;
    }
    const int before = damaged;
    if (!sameFields(table.Fields(), schema.fields)) report(schema.fileName, "fields differ from the program's");
    const auto tags = table.Tags();
    if (!fs::exists(folder + schema.indexFileName, ec))
      std::cout << schema.indexFileName << ": missing (rebuilt when the table is next opened)\n";
    else if (tags.size() != 1 || !sameTag(tags[0], schema.tag))
      report(schema.indexFileName, "does not hold exactly the tag " + schema.tag.name + " on " +
                                       schema.tag.key_expression);
    if (damaged == before)
      std::cout << schema.fileName << ": OK, " << table.PhysicalCount() << " records\n";
  }
  const std::string ini = data::IniFileName(folder);
  if (fs::exists(ini, ec) && data::IniFile::load(ini).truncated())
    report("VLN.INI", "larger than a settings file can be; the program will not write it");
  if (damaged) std::cout << damaged << " problem" << (damaged == 1 ? "" : "s") << " found\n";
  return damaged ? 1 : 0;
}

}  // namespace veltrane::cli::db
