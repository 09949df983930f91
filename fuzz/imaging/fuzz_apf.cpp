// APF readers on arbitrary bytes: the in-memory walker over every page and
// its records, and the file readers on the same bytes written to a file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/apf.h"

using namespace veltrane::imaging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ApfPageWalker walker;
  if (walker.Open({data, size}) == 0) {
    // Bounded: at most 64 pages walked, each walk stops at the buffer's end.
    unsigned pages = std::min(walker.PageCount(), 64u);
    for (unsigned n = 1; n <= pages + 1; ++n) {
      ApfPageView page;
      if (walker.Page(n, page) != 0) continue;
      if (page.Data.data() < data || page.Data.data() + page.Data.size() > data + size) __builtin_trap();
      if (page.PageFlags & pfLengthWords) {
        std::size_t i = 0;
        while (i + 2 <= page.Data.size()) i += 2 + (page.Data[i] | (page.Data[i + 1] << 8));
      }
    }
  }
  static const std::string path = "/tmp/fuzz-apf-" + std::to_string(::getpid()) + ".apf";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    ApfFileHeader h;
    ApfPageHeader ph;
    (void)IsApfFile(path);
    if (ReadFaxHeader(path, h) == 0) {
      (void)ReadPageHeader(path, 1, ph);
      (void)ReadPageHeader(path, std::min<unsigned>(h.PageCount, 64u), ph);
    }
    std::remove(path.c_str());
  }
  return 0;
}
