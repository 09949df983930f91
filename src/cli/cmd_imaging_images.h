// Picture files the imaging commands write: PBM and PNG of one fax page. PNG
// is written without a compression library: its image data goes in stored
// (uncompressed) deflate blocks, which every PNG reader accepts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"

namespace veltrane::cli {

// Binary PBM ("P4"): 1 = black, most significant bit first, as our rows are.
std::vector<std::uint8_t> EncodePbm(const imaging::MonoBitmap& page);

// One-bit greyscale PNG. The resolution (dots per inch across and down) goes
// into a pHYs chunk, so viewers can show normal-resolution pages unstretched.
std::vector<std::uint8_t> EncodePng(const imaging::MonoBitmap& page, int xDpi, int yDpi);

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t Adler32(const std::uint8_t* data, std::size_t size);

// Writes bytes to a file; false (with errno set) on failure.
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace veltrane::cli
