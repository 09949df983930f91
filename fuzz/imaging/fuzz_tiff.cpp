// TIFF readers on arbitrary bytes: the container and row decoders of every
// page, the converter's TIFF input through a whole conversion, and the import
// of every page into an APF file. The last byte picks the converter options.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_convert_common.h"
#include "imaging/tiff_import.h"
#include "imaging/tiff_reader.h"
#include "imaging/tiff_rows.h"

using namespace veltrane::imaging;

namespace {

// Callers bound the row width before they allocate a row; so does this.
constexpr uint32_t kMaxFuzzWidth = 4096;

void ReadEveryRow(std::span<const uint8_t> bytes) {
  TiffFile file;
  if (file.parse(bytes) != 0) return;
  for (std::size_t i = 0; i < file.pageCount() && i < 16; ++i) {
    TiffPage page;
    if (file.readPage(i, page) != 0 || page.width > kMaxFuzzWidth) continue;
    TiffRowReader rows;
    if (rows.Open(bytes, page) != 0) continue;
    std::vector<uint8_t> row(page.bytesPerRow());
    uint32_t n = 0;
    while (rows.ReadRow(row.data()) == 1) {
      if (++n > page.length) __builtin_trap();  // never more rows than the page claims
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  ReadEveryRow(bytes);

  const std::uint8_t options = size > 0 ? data[size - 1] : 0;
  fuzz::ConvertBytes(data, size, TFaxInputDocumentType::idTiff, ".tif", options);

  static const std::string apf = "/tmp/fuzz-tiff-import-" + std::to_string(::getpid()) + ".apf";
  TiffImportResult result;
  const int rc = ImportTiffBytesToApf(bytes, apf, &result);
  if (rc < 0 && ::access(apf.c_str(), F_OK) == 0) __builtin_trap();  // a failed import leaves no file
  std::remove(apf.c_str());
  return 0;
}
