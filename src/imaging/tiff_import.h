// Bilevel TIFF files into APF fax files: every page of a G3 one-dimensional
// (or Compression 2, MH rows without EOLs), uncompressed or PackBits TIFF,
// pixel for pixel.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace veltrane::imaging {

struct TiffImportResult {
  unsigned pages = 0;
  std::uint32_t damagedRows = 0;  // G3 rows with bad codes or a wrong length
};

// Each TIFF page becomes an APF page of 1728 pixels (2048 when the image is
// wider than 1728), the image at the left and white to the right; pages with
// 150 lines per inch or more are marked high resolution. A page wider than
// 2048 pixels, longer than the unpacker shows (kMaxLinesPerPage rows), or not
// bilevel gives kErrBadGraphicsFormat; any error leaves no output file.
int ImportTiffToApf(const std::string& tiffPath, const std::string& apfPath,
                    TiffImportResult* result = nullptr, std::string_view stationId = "");
// The same from a TIFF file held in memory.
int ImportTiffBytesToApf(std::span<const std::uint8_t> tiff, const std::string& apfPath,
                         TiffImportResult* result = nullptr, std::string_view stationId = "");

}  // namespace veltrane::imaging
