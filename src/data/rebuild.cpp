#include "data/rebuild.h"

#include <algorithm>
#include <filesystem>

namespace veltrane::data {
namespace {

const RebuildTableStep& stepOf(FaxTable table) {
  for (const RebuildTableStep& step : RebuildOrder())
    if (step.table == table) return step;
  return RebuildOrder().front();
}

// Registers the progress receiver for one table's work and always
// unregisters it, also when the work ends early with an error.
class ProgressRegistration {
 public:
  ProgressRegistration(xbase::Table& table, const RebuildCallbacks& callbacks) : table_(table) {
    if (callbacks.onProgress) {
      auto report = callbacks.onProgress;
      table_.SetProgressHandler([report](int percent) { report(std::clamp(percent, 0, 100)); });
    }
  }
  ~ProgressRegistration() { table_.SetProgressHandler({}); }
  ProgressRegistration(const ProgressRegistration&) = delete;
  ProgressRegistration& operator=(const ProgressRegistration&) = delete;

 private:
  xbase::Table& table_;
};

void say(const RebuildCallbacks& callbacks, const std::string& text) {
  if (callbacks.onStep) callbacks.onStep(text);
}

void progress(const RebuildCallbacks& callbacks, int percent) {
  if (callbacks.onProgress) callbacks.onProgress(percent);
}

// "VLN.DBF" -> "VLN.CDX": the file name without its last three characters,
// then "CDX".
std::string indexFileOf(const std::string& dataFolder, const std::string& tableFile) {
  return dataFolder + tableFile.substr(0, tableFile.size() - 3) + "CDX";
}

xbase::Status rebuildTable(FaxTable which, xbase::Table& table, const RebuildCallbacks& callbacks,
                           const std::string& dataFolder) {
  const TableSchema& schema = SchemaOf(which);
  const RebuildStepTexts& texts = stepOf(which).texts;
  ProgressRegistration registration(table, callbacks);

  if (xbase::Status st = table.CloseIndexes(); !st.ok()) return st;
  const std::string indexFile = indexFileOf(dataFolder, schema.fileName);
  std::error_code ec;
  std::filesystem::remove(indexFile, ec);
  if (ec) return xbase::Status(xbase::kIoError, "Unable to delete " + indexFile + ": " + ec.message());

  say(callbacks, texts.beforePacking);
  progress(callbacks, 0);
  if (xbase::Status st = table.Pack(); !st.ok()) return st;

  progress(callbacks, 0);
  say(callbacks, texts.beforeIndexing);
  if (xbase::Status st = table.CreateTag(schema.tag); !st.ok()) return st;
  return table.SetOrder(std::string_view(schema.tag.name));
}

}  // namespace

const std::array<RebuildTableStep, 4>& RebuildOrder() {
  static const std::array<RebuildTableStep, 4> order = {{
      {FaxTable::Sent,
       {"Removing FAX file records marked for deletion", "Rebuilding FAX file indexes"}},
      {FaxTable::Received,
       {"Removing Received FAX records marked for deletion", "Rebuilding Received FAX indexes"}},
      {FaxTable::Phone,
       {"Removing PHONE file records marked for deletion", "Rebuilding PHONE file indexes"}},
      {FaxTable::Cover,
       {"Removing COVER file records marked for deletion", "Rebuilding COVER file indexes"}},
  }};
  return order;
}

xbase::Status RebuildIndexes(xbase::Table& sent, xbase::Table& received, xbase::Table& phone,
                             xbase::Table& cover, const RebuildCallbacks& callbacks,
                             const std::string& dataFolder) {
  for (const RebuildTableStep& step : RebuildOrder()) {
    xbase::Table* table = nullptr;
    bool openedHere = false;
    switch (step.table) {
      case FaxTable::Sent: table = &sent; break;
      case FaxTable::Received: table = &received; break;
      case FaxTable::Phone:
      case FaxTable::Cover:
        table = step.table == FaxTable::Phone ? &phone : &cover;
        if (!OpenTable(step.table, *table, dataFolder)) continue;
        openedHere = true;
        break;
    }
    const xbase::Status st = rebuildTable(step.table, *table, callbacks, dataFolder);
    if (openedHere) (void)table->Close();
    if (!st.ok()) return st;
    if (step.table == FaxTable::Sent) say(callbacks, "");
  }
  return {};
}

}  // namespace veltrane::data
