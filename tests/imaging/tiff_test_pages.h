// Pages that exercise a fax codec: text, noise, all black, alternating
// one-pixel runs, and every run length a line can hold. Shared by the TIFF
// tests and the command-line round trips.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/fax_font.h"

namespace veltrane::imaging::testpages {

inline MonoBitmap TextPage(int width, int rows) {
  MonoBitmap page(width, rows);
  FaxFont font;
  LoadFaxFont(font, "", ffStandard, false);
  const std::string text = "Veltrane fax test page: The quick brown fox jumps over 13 lazy dogs!";
  for (int y = 0; y < rows; ++y) {
    const int band = y / (font.rows + 4), row = y % (font.rows + 4) + 1;
    std::string line = std::to_string(band) + " " + text.substr(band % 20);
    RasterizeTextRow(font, line, row, page.RowSpan(y).first(static_cast<std::size_t>(width / 8)));
  }
  return page;
}

inline MonoBitmap NoisePage(int width, int rows, unsigned seed = 7) {
  MonoBitmap page(width, rows);
  std::mt19937 rng(seed);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < width / 8; ++x) page.Row(y)[x] = static_cast<std::uint8_t>(rng());
  return page;
}

inline MonoBitmap BlackPage(int width, int rows) {
  MonoBitmap page(width, rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < width / 8; ++x) page.Row(y)[x] = 0xFF;
  return page;
}

// One-pixel runs from edge to edge, the rows shifted by one pixel in turn.
// Rows that start black need width + 1 runs (the leading white run of 0),
// one more than libtiff's decoder holds, so only pages for our own decoders
// may use `start_black`; the others start the shifted rows with two white pixels.
inline MonoBitmap AlternatingPage(int width, int rows, bool start_black = false) {
  MonoBitmap page(width, rows);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < width / 8; ++x) page.Row(y)[x] = y % 2 ? 0xAA : 0x55;
    if (y % 2 && !start_black) page.Row(y)[0] = 0x2A;
  }
  return page;
}

// For every length L from 0 to the width: a row with L black pixels at the
// left, and a row with a white run of L followed by black.
inline MonoBitmap RunLengthPage(int width) {
  MonoBitmap page(width, 2 * (width + 1));
  for (int len = 0; len <= width; ++len) {
    for (int x = 0; x < len; ++x) page.SetPixel(x, 2 * len, true);
    for (int x = len; x < width; ++x) page.SetPixel(x, 2 * len + 1, true);
  }
  return page;
}

struct NamedPage {
  std::string name;
  MonoBitmap page;
};

inline std::vector<NamedPage> VariedPages() {
  return {
      {"text", TextPage(1728, 300)},
      {"noise", NoisePage(1728, 60)},
      {"black", BlackPage(1728, 20)},
      {"alternating", AlternatingPage(1728, 8)},
      {"runs", RunLengthPage(2048)},
      {"wide-noise", NoisePage(2048, 40, 11)},
  };
}

}  // namespace veltrane::imaging::testpages
