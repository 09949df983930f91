// Arbitrary .FPT bytes under a table whose records point at blocks 0..63 of
// it: every memo read either returns its bytes or a clear error.
#include <cstdio>
#include <cstring>

#include "fuzz_files.h"

namespace {

// A table with one memo field (record length 11) and 64 records.
std::vector<uint8_t> MemoTable() {
  const int records = 64;
  std::vector<uint8_t> f(32 + 32 + 1, 0);
  f[0] = 0xF5;
  f[4] = records;
  f[8] = uint8_t(f.size());
  f[10] = 11;
  std::memcpy(f.data() + 32, "COVER", 5);
  f[32 + 11] = 'M';
  f[32 + 16] = 10;
  f[64] = 0x0D;
  for (int r = 0; r < records; ++r) {
    char ref[16];
    std::snprintf(ref, sizeof ref, " %10d", r);
    f.insert(f.end(), ref, ref + 11);
  }
  f.push_back(0x1A);
  return f;
}

const std::vector<uint8_t> kTable = MemoTable();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veltrane::xbase;
  const std::string base = veltrane::xbase::fuzz::ScratchPath("M");
  fuzz::RemoveTableFiles(base);
  fuzz::WriteFile(base + ".DBF", kTable.data(), kTable.size());
  fuzz::WriteFile(base + ".FPT", data, size);
  Table table;
  if (!table.Open(base + ".DBF", {{}, SyncMode::kNever}).ok()) return 0;
  fuzz::WalkTable(table);
  table.First();
  if (table.WriteMemo("COVER", "a new memo after whatever was there").ok()) {
    auto back = table.ReadMemo("COVER");
    if (!back.ok() || back.value() != "a new memo after whatever was there") __builtin_trap();
  }
  return 0;
}
