// Writing multi-page TIFF Class F files, the form other fax software reads:
// one G3 one-dimensional (MH) strip per page, every row starting with an EOL
// that ends on a byte boundary (T4Options 4), 204 dpi across and 98 or 196
// lines per inch down, 1728 or 2048 pixels wide.
//
// Layout of the file we write (little-endian):
//   0            8   header "II", 42, offset of the first IFD
//   8            ... the strips of every page, in page order
//   then, per page, at an even offset: the IFD (17 entries, tags ascending)
//   and right after it the values that do not fit in an entry (the two
//   resolutions and the Software text)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/converter_state.h"

namespace veltrane::imaging {

class TiffFaxWriter {
 public:
  // fill_order 1 stores the first bit of the codes in bit 7 of each byte, the
  // order every TIFF reader knows; 2 keeps the fax order (first bit in bit 0).
  explicit TiffFaxWriter(int fill_order = 1);

  // Starts a page of `width` pixels (1728 or 2048; anything else is taken as 1728).
  void BeginPage(int width, bool high_res);
  // One raster line of width / 8 bytes, most significant bit first, 1 = black.
  void AddLine(const uint8_t* raster);
  void EndPage();

  std::size_t PageCount() const { return pages_.size(); }

  // The finished file: pages in the order written, each with its page number
  // and the page count. A page without rows gets one white row, since TIFF
  // readers refuse an image of length 0.
  std::vector<uint8_t> Finish(std::string_view software = "Veltrane");
  // Writes Finish() to `path` through a temporary file renamed into place, so
  // a failure never leaves a half-written file. 0, kErrBadArgument when no
  // page was written, or a negative file error.
  int WriteFile(const std::string& path, std::string_view software = "Veltrane");

 private:
  struct Page {
    int width = 1728;
    bool high_res = false;
    uint32_t rows = 0;
    std::vector<uint8_t> strip;
  };
  std::size_t AppendIfd(std::vector<uint8_t>& out, std::size_t index, uint32_t strip_at,
                        const std::string& software) const;

  int fill_order_;
  std::vector<Page> pages_;
  bool page_open_ = false;
  ConverterState coder_;  // the converter's line coder, margin 0
};

}  // namespace veltrane::imaging
