#include "imaging/fax_font.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace veltrane::imaging {
namespace {

using Line = std::array<std::uint8_t, 512>;

Line DrawRow(const FaxFont& font, std::string_view text, int row) {
  Line line{};
  RasterizeTextRow(font, text, row, line);
  return line;
}

bool AnyBlack(const Line& line) {
  for (auto b : line)
    if (b) return true;
  return false;
}

int RightmostBlackPixel(const Line& line) {
  for (int px = 4095; px >= 0; --px)
    if (line[px / 8] & (0x80 >> (px % 8))) return px;
  return -1;
}

TEST(FaxFont, MetricsBySelectorAndResolution) {
  struct Case {
    int selector;
    bool highRes;
    int glyphBytes, pixelWidth, bytesPerRow, rows;
  };
  static const Case kCases[] = {
      {ffSmall, false, 16, 12, 2, 8},     {ffSmall, true, 32, 12, 2, 16},
      {0, false, 16, 12, 2, 8},           {ffStandard, false, 48, 20, 3, 16},
      {ffStandard, true, 96, 20, 3, 32},
  };
  for (const Case& c : kCases) {
    FaxFont font;
    ASSERT_EQ(LoadFaxFont(font, "ignored.fnt", c.selector, c.highRes), 0);
    EXPECT_TRUE(font.loaded);
    EXPECT_EQ(font.glyphBytes, c.glyphBytes) << c.selector << " " << c.highRes;
    EXPECT_EQ(font.pixelWidth, c.pixelWidth);
    EXPECT_EQ(font.bytesPerRow, c.bytesPerRow);
    EXPECT_EQ(font.rows, c.rows);
  }
}

TEST(FaxFont, MissingResourceFails) {
  FaxFont font;
  std::vector<std::uint8_t> tooShort(100);
  EXPECT_EQ(LoadFaxFontFrom(font, tooShort, ffSmall, false), kErrFontMissing);
  EXPECT_FALSE(font.loaded);
}

TEST(FaxFont, RowsBeyondTheFontDrawNothing) {
  FaxFont normal, fine;
  ASSERT_EQ(LoadFaxFont(normal, "", ffSmall, false), 0);
  ASSERT_EQ(LoadFaxFont(fine, "", ffSmall, true), 0);
  const std::string text = "HELLO gjpqy 0123 |_";
  EXPECT_FALSE(AnyBlack(DrawRow(normal, text, 9)));
  EXPECT_FALSE(AnyBlack(DrawRow(normal, text, 0)));
  EXPECT_FALSE(AnyBlack(DrawRow(fine, text, 17)));
  // At high resolution every source row appears twice, in order.
  for (int r = 1; r <= 8; ++r) {
    Line src = DrawRow(normal, text, r);
    EXPECT_EQ(DrawRow(fine, text, 2 * r - 1), src) << "row " << r;
    EXPECT_EQ(DrawRow(fine, text, 2 * r), src) << "row " << r;
  }
}

TEST(FaxFont, HighResolutionDoublesEveryGlyphOfTheStandardFont) {
  FaxFont normal, fine;
  ASSERT_EQ(LoadFaxFont(normal, "", ffStandard, false), 0);
  ASSERT_EQ(LoadFaxFont(fine, "", ffStandard, true), 0);
  for (int c = 0; c < 256; ++c) {
    for (int r = 0; r < 16; ++r) {
      for (int b = 0; b < 3; ++b) {
        const auto src = normal.glyphData[c * 48 + r * 3 + b];
        ASSERT_EQ(fine.glyphData[c * 96 + 2 * r * 3 + b], src) << c;
        ASSERT_EQ(fine.glyphData[c * 96 + (2 * r + 1) * 3 + b], src) << c;
      }
    }
  }
}

TEST(FaxFont, GlyphsStayInsideTheirCellAndPrintableOnesDraw) {
  for (int selector : {ffSmall, ffStandard}) {
    FaxFont font;
    ASSERT_EQ(LoadFaxFont(font, "", selector, false), 0);
    for (int c = 0; c < 256; ++c) {
      bool inked = false;
      for (int r = 1; r <= font.rows; ++r) {
        Line line = DrawRow(font, std::string(1, static_cast<char>(c)), r);
        inked = inked || AnyBlack(line);
        EXPECT_LT(RightmostBlackPixel(line), font.pixelWidth) << selector << " char " << c;
      }
      const bool printable = (c > 32 && c < 127) || c > 160;
      if (printable) {
        EXPECT_TRUE(inked) << selector << " char " << c;
      }
    }
  }
}

TEST(FaxFont, CharactersAdvanceByTheirWidthAtAnyBitOffset) {
  FaxFont font;
  ASSERT_EQ(LoadFaxFont(font, "", ffStandard, false), 0);
  // The same glyph drawn at every position: each copy equals the first, shifted.
  const std::string text(8, 'W');
  for (int r = 1; r <= font.rows; ++r) {
    Line line = DrawRow(font, text, r);
    for (int i = 1; i < 8; ++i)
      for (int px = 0; px < 20; ++px) {
        const int a = px, b = i * 20 + px;
        const bool pa = line[a / 8] & (0x80 >> (a % 8));
        const bool pb = line[b / 8] & (0x80 >> (b % 8));
        ASSERT_EQ(pa, pb) << "row " << r << " copy " << i << " px " << px;
      }
  }
}

TEST(FaxFont, DrawingOrsIntoTheLine) {
  FaxFont font;
  ASSERT_EQ(LoadFaxFont(font, "", ffSmall, false), 0);
  Line line{};
  line.fill(0xFF);
  RasterizeTextRow(font, "ABC", 3, line);
  for (auto b : line) EXPECT_EQ(b, 0xFF);
}

TEST(FaxFont, OneHundredFortySmallCharactersCover1680Pixels) {
  FaxFont font;
  ASSERT_EQ(LoadFaxFont(font, "", ffSmall, false), 0);
  const std::string text(140, '#');
  int rightmost = -1;
  for (int r = 1; r <= font.rows; ++r)
    rightmost = std::max(rightmost, RightmostBlackPixel(DrawRow(font, text, r)));
  EXPECT_LT(rightmost, 1680);
  EXPECT_GE(rightmost, 1680 - 12);
  // Codes above 127 draw like any other.
  EXPECT_TRUE(AnyBlack(DrawRow(font, "\xE9\xC4\xDF", 4)));
}

TEST(FaxFont, TextPastTheLineEndIsCutNotWrittenBeyond) {
  FaxFont font;
  ASSERT_EQ(LoadFaxFont(font, "", ffStandard, false), 0);
  std::vector<std::uint8_t> storage(216 + 8, 0);
  std::span<std::uint8_t> line(storage.data(), 216);
  RasterizeTextRow(font, std::string(200, 'M'), 8, line);
  for (std::size_t i = 216; i < storage.size(); ++i) EXPECT_EQ(storage[i], 0);
  EXPECT_NE(storage[215], 0);
}

}  // namespace
}  // namespace veltrane::imaging
