// Arbitrary .CDX bytes beside a 400-entry phone book: opening must either
// accept an index that matches the table or rebuild it; the tag order walked
// afterwards must be complete and sorted.
#include <cstdlib>

#include "fuzz_files.h"

namespace {
const std::vector<uint8_t> kTable = veltrane::xbase::fuzz::ReadFile(XBASE_FUZZ_TABLE);
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veltrane::xbase;
  if (kTable.empty()) std::abort();
  const std::string base = fuzz::ScratchPath("VLNPB");
  for (int expected_tags = 0; expected_tags < 2; ++expected_tags) {
    fuzz::RemoveTableFiles(base);
    fuzz::WriteFile(base + ".DBF", kTable.data(), kTable.size());
    fuzz::WriteFile(base + ".CDX", data, size);
    OpenOptions options;
    options.sync = SyncMode::kNever;
    if (expected_tags) options.index_tags = {{"NAME", "NAME", ".not. deleted()", false, false}};
    Table table;
    if (!table.Open(base + ".DBF", options).ok()) std::abort();  // a bad index never blocks the table
    for (int order = 1; order <= int(table.Tags().size()); ++order) {
      table.SetOrder(order);
      table.SetFilter(".not. deleted()");
      fuzz::WalkTable(table);
    }
    if (expected_tags) {
      if (table.TagNumber("NAME") == 0) std::abort();
      table.SetOrder("NAME");
      table.SetFilter(".not. deleted()");
      std::string previous;
      uint32_t seen = 0;
      for (table.First(); table.HasCurrent() && !table.Eof(); table.Next(), ++seen) {
        std::string name = table.GetText("NAME").value();
        name.resize(35, ' ');
        if (name < previous) std::abort();
        previous = name;
      }
      if (seen != table.FilteredCount()) std::abort();
    }
  }
  return 0;
}
