// Bilevel TIFF files into APF fax files and back: the import takes every page
// of a G3 one-dimensional, uncompressed or PackBits TIFF pixel for pixel; the
// export decodes each APF page and writes it as a TIFF Class F page.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "imaging/bitmap.h"

namespace veltrane::imaging {

struct TiffImportResult {
  unsigned pages = 0;
  std::uint32_t damagedRows = 0;  // G3 rows with bad codes or a wrong length
};

// Each TIFF page becomes an APF page of 1728 pixels (2048 when the image is
// wider than 1728), the image at the left and white to the right; pages with
// 150 lines per inch or more are marked high resolution. A page wider than
// 2048 pixels, or one that is not bilevel, gives kErrBadGraphicsFormat; any
// error leaves no output file.
int ImportTiffToApf(const std::string& tiffPath, const std::string& apfPath,
                    TiffImportResult* result = nullptr, std::string_view stationId = "");

// One APF page as coded: no doubling or halving, 1728 or 2048 pixels wide as
// the page's flags say (longer lines cut, shorter ones padded white).
struct ApfPageRaster {
  MonoBitmap bitmap;
  bool highRes = false;
  bool wide = false;
};

// Page `pageNumber` (from 1) of an APF file held in memory. 0 or the
// unpacker's error (kErrNotApf for a missing page or data cut short).
int DecodeApfPageRaster(std::span<const std::uint8_t> apf, unsigned pageNumber, ApfPageRaster& out);

// Every page of an APF file into a multi-page TIFF Class F file. `pages`
// receives the number written.
int ExportApfToTiff(const std::string& apfPath, const std::string& tiffPath, int fillOrder = 1,
                    unsigned* pages = nullptr);

}  // namespace veltrane::imaging
