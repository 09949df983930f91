// libtiff as an independent decoder of our MH data: the coded lines are put in
// a one-strip G3 one-dimensional TIFF (bits filled from bit 0, FillOrder 2) and
// read back with TIFFReadScanline. Only tests and benchmarks use this.
#pragma once

#ifdef VELTRANE_HAVE_LIBTIFF
#include <tiffio.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"

namespace veltrane::imaging::testpeer {

// Decodes `rows` lines of `width` pixels from raw MH data. Returns an empty
// bitmap when libtiff cannot open what we wrote.
inline MonoBitmap DecodeMhWithLibtiff(const std::vector<std::uint8_t>& mh, int width, int rows) {
  char path[] = "/tmp/veltrane-mh-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) return {};
  ::close(fd);
  TIFFSetWarningHandler(nullptr);
  MonoBitmap out;
  if (TIFF* tif = TIFFOpen(path, "w")) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(rows));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rows));
    TIFFWriteRawStrip(tif, 0, const_cast<std::uint8_t*>(mh.data()), static_cast<tmsize_t>(mh.size()));
    TIFFClose(tif);
    if (TIFF* in = TIFFOpen(path, "r")) {
      out = MonoBitmap(width, rows);
      for (int y = 0; y < rows; ++y) TIFFReadScanline(in, out.Row(y), static_cast<std::uint32_t>(y));
      TIFFClose(in);
    }
  }
  ::unlink(path);
  return out;
}

}  // namespace veltrane::imaging::testpeer
#endif
