// APF fax files out to pictures: each page decoded as coded, and the whole
// file as a multi-page TIFF Class F file that other fax software reads.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/bitmap.h"

namespace veltrane::imaging {

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

// Pages first..last (from 1) of an APF file held in memory into a TIFF Class F
// file at `tiffPath`. 0 or the first error; on an error no file is left.
int ExportApfToTiff(std::span<const std::uint8_t> apf, unsigned first, unsigned last,
                    const std::string& tiffPath, int fillOrder = 1);

}  // namespace veltrane::imaging
