// Turning a colour or grey BMP (4, 8, 24 or 32 bits per pixel, uncompressed)
// into a one-bit bitmap by ordered dithering against a 16 x 16 threshold matrix.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "imaging/bitmap.h"

namespace veltrane::imaging {

using DitherMatrix = std::array<std::array<std::uint8_t, 16>, 16>;
// Bayer thresholds 0..254: a pixel is white when the mean of its red, green
// and blue is greater than TDitherMatrix()[x % 16][y % 16], so pure white stays
// white and pure black stays black.
const DitherMatrix& TDitherMatrix();

// Decodes a BMP of 4, 8, 24 or 32 bits per pixel (BI_RGB) held in memory and
// dithers it. False when the bytes are not such a bitmap or do not hold all the
// pixels the header claims.
bool DitherBmp(std::span<const std::uint8_t> file, MonoBitmap& out);

// Dithers the BMP file `path` into a new temporary one-bit BMP whose name starts
// with "~DIT"; `tempPath` receives its name. False (and no file) when `path` is
// not a non-monochrome BMP we can read.
bool DitherBmpFile(const std::string& path, std::string& tempPath);

}  // namespace veltrane::imaging
