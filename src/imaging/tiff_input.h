// The converter's TIFF input kind: the first page of a bilevel TIFF file,
// uncompressed or PackBits, in one or more strips.
#pragma once

#include <memory>

#include "imaging/input_reader.h"

namespace veltrane::imaging {

// Opening fails with kErrBadGraphicsFormat when the file is no TIFF, lacks its
// width, length or strip offsets, is not one bit per pixel, uses another
// compression, or is wider than the coded line; a strip that ends before its
// rows fails the read of the row it cuts short.
std::unique_ptr<InputReader> MakeTiffInputReader();

}  // namespace veltrane::imaging
