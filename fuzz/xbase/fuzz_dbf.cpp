// Arbitrary .DBF bytes (with an empty memo file beside them): open, walk,
// then append, delete and pack. Damage must give an error, never a crash.
#include "fuzz_files.h"

namespace {
const std::vector<uint8_t> kEmptyMemoFile = [] {
  std::vector<uint8_t> f(512, 0);
  f[3] = 8;   // next free block
  f[7] = 64;  // block size
  return f;
}();
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veltrane::xbase;
  const std::string base = fuzz::ScratchPath("T");
  fuzz::RemoveTableFiles(base);
  fuzz::WriteFile(base + ".DBF", data, size);
  fuzz::WriteFile(base + ".FPT", kEmptyMemoFile.data(), kEmptyMemoFile.size());
  Table table;
  if (!table.Open(base + ".DBF", {{}, SyncMode::kNever}).ok()) return 0;
  fuzz::WalkTable(table);
  table.SetFilter(".not. deleted()");
  fuzz::WalkTable(table);
  if (table.Append().ok()) {
    const FieldDef& f = table.Fields().front();
    if (f.type == 'M') {
      (void)table.WriteMemo(f.name, "memo");
    } else {
      (void)table.SetText(f.name, f.type == 'D' ? "20240101" : "1");
    }
    (void)table.Post();
  }
  table.First();
  (void)table.Delete();
  (void)table.Pack();
  fuzz::WalkTable(table);
  return 0;
}
