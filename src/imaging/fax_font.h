// The built-in monospaced fax font and the drawing of one pixel row of text
// into a raster line (header lines, text cover files, the converter's text input).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace veltrane::imaging {

// Layout of the compiled-in font resource (16384 bytes):
//
// | Bytes          | Part     | Glyph bytes | Pixel width | Bytes/row | Rows |
// |----------------|----------|-------------|-------------|-----------|------|
// | 0 .. 4095      | small    | 16          | 12          | 2         | 8    |
// | 4096 .. 16383  | standard | 48          | 20          | 3         | 16   |
//
// 256 glyphs per part, glyph c for character code c, rows top to bottom, each
// row most significant bit first (leftmost pixel), 1 = black.
inline constexpr std::size_t kFaxFontResourceSize = 16384;
extern const unsigned char kFaxFontResource[kFaxFontResourceSize];

inline constexpr int ffSmall = 16;     // the size selector the engine passes for header lines
inline constexpr int ffStandard = 48;  // the only selector that picks the standard part

inline constexpr int kErrFontMissing = -8052;

struct FaxFont {
  static constexpr std::size_t kMaxGlyphData = 256 * 48 * 2;  // standard part, rows doubled

  bool loaded = false;
  std::uint8_t glyphData[kMaxGlyphData] = {};
  std::uint8_t glyphBytes = 0;    // bytes per glyph: 16 or 48, doubled at high resolution
  std::uint8_t pixelWidth = 0;    // advance and drawn width of every character: 12 or 20
  std::uint8_t bytesPerRow = 0;   // 2 or 3
  std::uint8_t rows = 0;          // 8 or 16, doubled at high resolution
};

// Loads the compiled-in font. `fontFileName` is accepted for callers that pass
// one and is not used. Selector 48 picks the standard font, anything else the
// small one; high resolution repeats every row. Returns 0 or -8052.
int LoadFaxFont(FaxFont& font, std::string_view fontFileName, int sizeSelector, bool highRes);

// Same, from the given resource bytes; fewer than 16384 bytes give -8052.
int LoadFaxFontFrom(FaxFont& font, std::span<const std::uint8_t> resource, int sizeSelector,
                    bool highRes);

// ORs row `row` (counted from 1) of every character of `text` into `rasterLine`,
// starting at pixel 0 and advancing by the font's pixel width per character.
// The line is not cleared first. Rows beyond the font's height draw nothing, and
// pixels beyond the end of `rasterLine` are dropped.
void RasterizeTextRow(const FaxFont& font, std::string_view text, int row,
                      std::span<std::uint8_t> rasterLine);

}  // namespace veltrane::imaging
