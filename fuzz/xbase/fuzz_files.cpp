#include "fuzz_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace veltrane::xbase::fuzz {

std::string ScratchPath(const std::string& name) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/xbase-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    static std::string made = pattern;
    std::atexit([] { std::filesystem::remove_all(made); });
    return made;
  }();
  return dir + "/" + name;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void RemoveTableFiles(const std::string& base) {
  for (const char* ext : {".DBF", ".FPT", ".CDX"}) {
    for (const char* suffix : {"", ".NEW", ".OLD"}) {
      std::remove((base + ext + suffix).c_str());
    }
  }
}

void WalkTable(Table& table) {
  size_t steps = 0;
  for (table.First(); table.HasCurrent() && !table.Eof(); table.Next()) {
    for (const FieldDef& f : table.Fields()) {
      if (f.type == 'M') {
        (void)table.ReadMemo(f.name);
      } else {
        (void)table.GetText(f.name);
      }
    }
    (void)table.Deleted();
    if (++steps > table.PhysicalCount()) std::abort();  // a walk must never revisit records
  }
}

}  // namespace veltrane::xbase::fuzz
