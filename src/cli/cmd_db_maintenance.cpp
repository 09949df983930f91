// db pack and db check: the maintenance of all four tables.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "cli/args.h"
#include "cli/cmd_db.h"
#include "data/ini_file.h"
#include "data/rebuild.h"
#include "data/settings.h"
#include "data/tables_check.h"

namespace veltrane::cli::db {
namespace {

namespace fs = std::filesystem;

// A text progress bar on stderr: redrawn in place on a terminal; elsewhere
// (logs, pipes) one line with the final state of each step. A step that is
// followed by the next one, or by done(), has finished: it shows 100 %.
class ProgressBar {
 public:
  ProgressBar() : terminal_(::isatty(STDERR_FILENO) != 0) {}
  ~ProgressBar() { endStep(false); }

  void step(const std::string& text) {
    endStep(true);
    if (text.empty()) return;
    std::cout << text << std::endl;
    active_ = true;
    percent_ = 0;
    if (terminal_) draw();
  }
  void progress(int percent) {
    if (!active_ || percent == percent_) return;
    percent_ = percent;
    if (terminal_) draw();
  }
  void done() { endStep(true); }

 private:
  void draw() const {
    constexpr int kWidth = 40;
    const int filled = percent_ * kWidth / 100;
    std::cerr << (terminal_ ? "\r" : "") << "  [" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << percent_ << "%"
              << (terminal_ ? "" : "\n") << std::flush;
  }
  void endStep(bool finished) {
    if (!active_) return;
    if (finished) percent_ = 100;
    draw();
    if (terminal_) std::cerr << "\n";
    active_ = false;
  }

  bool terminal_;
  bool active_ = false;
  int percent_ = 0;
};

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
    if (st.ok()) bar.done();
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
    // The engine's validation of the files, then a read of every record and
    // a comparison with the program's schema, on a copy.
    const data::TableCheckReport deep = data::CheckTable(which, folder);
    if (!deep.present) {
      std::cout << schema.fileName << ": not present (created when first needed)\n";
      continue;
    }
    std::vector<std::string> problems = xbase::Table::Check(folder + schema.fileName, {schema.tag});
    problems.insert(problems.end(), deep.problems.begin(), deep.problems.end());
    for (const std::string& p : problems) report(schema.fileName, p);
    if (problems.empty()) std::cout << schema.fileName << ": OK, " << deep.records << " records\n";
  }
  const std::string ini = data::IniFileName(folder);
  if (fs::exists(ini, ec) && data::IniFile::load(ini).truncated())
    report("VLN.INI", "larger than a settings file can be; the program will not write it");
  if (damaged) std::cout << damaged << " problem" << (damaged == 1 ? "" : "s") << " found\n";
  return damaged ? 1 : 0;
}

}  // namespace veltrane::cli::db
