#include "imaging/fax_font.h"

#include <cstring>

namespace veltrane::imaging {

namespace {

struct FontPart {
  std::size_t offset;
  std::uint8_t glyphBytes;
  std::uint8_t pixelWidth;
  std::uint8_t bytesPerRow;
  std::uint8_t rows;
};

constexpr FontPart kSmallPart{0, 16, 12, 2, 8};
constexpr FontPart kStandardPart{4096, 48, 20, 3, 16};

// Repeats every row of every glyph in place. Working from the last glyph and
// its last row down keeps each source row unread-over until it is copied.
void DoubleRows(FaxFont& font) {
  const std::size_t rowBytes = font.bytesPerRow;
  const std::size_t srcGlyph = font.glyphBytes;
  for (int glyph = 255; glyph >= 0; --glyph) {
    for (int row = font.rows - 1; row >= 0; --row) {
      const std::uint8_t* src = font.glyphData + glyph * srcGlyph + row * rowBytes;
      std::uint8_t* dst = font.glyphData + glyph * srcGlyph * 2 + row * 2 * rowBytes;
      std::memmove(dst + rowBytes, src, rowBytes);
      std::memmove(dst, src, rowBytes);
    }
  }
  font.glyphBytes = static_cast<std::uint8_t>(font.glyphBytes * 2);
  font.rows = static_cast<std::uint8_t>(font.rows * 2);
}

}  // namespace

int LoadFaxFontFrom(FaxFont& font, std::span<const std::uint8_t> resource, int sizeSelector,
                    bool highRes) {
  if (resource.size() < kFaxFontResourceSize) return kErrFontMissing;
  const FontPart& part = sizeSelector == ffStandard ? kStandardPart : kSmallPart;
  font.glyphBytes = part.glyphBytes;
  font.pixelWidth = part.pixelWidth;
  font.bytesPerRow = part.bytesPerRow;
  font.rows = part.rows;
  std::memcpy(font.glyphData, resource.data() + part.offset, 256u * part.glyphBytes);
  if (highRes) DoubleRows(font);
  font.loaded = true;
  return 0;
}

int LoadFaxFont(FaxFont& font, std::string_view /*fontFileName*/, int sizeSelector, bool highRes) {
  return LoadFaxFontFrom(font, std::span<const std::uint8_t>(kFaxFontResource), sizeSelector,
                         highRes);
}

void RasterizeTextRow(const FaxFont& font, std::string_view text, int row,
                      std::span<std::uint8_t> rasterLine) {
  if (!font.loaded || row < 1 || row > font.rows) return;
  const std::size_t lineBytes = rasterLine.size();
  std::size_t position = 0;  // in pixels
  for (unsigned char c : text) {
    const std::uint8_t* glyphRow =
        font.glyphData + c * std::size_t{font.glyphBytes} + (row - 1) * std::size_t{font.bytesPerRow};
    const std::size_t byteIndex = position / 8;
    const unsigned shift = position % 8;
    for (std::size_t b = 0; b < font.bytesPerRow; ++b) {
      const std::size_t at = byteIndex + b;
      if (at < lineBytes) rasterLine[at] |= static_cast<std::uint8_t>(glyphRow[b] >> shift);
      if (shift != 0 && at + 1 < lineBytes)
        rasterLine[at + 1] |= static_cast<std::uint8_t>(glyphRow[b] << (8 - shift));
    }
    position += font.pixelWidth;
    if (position / 8 >= lineBytes) break;
  }
}

}  // namespace veltrane::imaging
