// The raster-line coder: exact bytes for the lines whose coding is fixed, and
// libtiff as an independent decoder for pages of every kind.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/t4_encode.h"
#include "t4_libtiff_peer.h"

namespace veltrane::imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<ConverterState> MakeState(int width, int margin) {
  auto s = std::make_unique<ConverterState>();
  s->lineWidth = width;
  s->leftMargin = margin;
  return s;
}

Bytes Coded(const ConverterState& s) { return Bytes(s.codedLine.begin(), s.codedLine.begin() + s.byteOffset); }

Bytes EncodeRow(ConverterState& s, const std::uint8_t* row) {
  EncodeRasterLine(s, row);
  return Coded(s);
}

TEST(T4Encode, FixedCodings) {
  auto s = MakeState(1728, 50);
  std::uint8_t white[256] = {};
  EXPECT_EQ(EncodeRow(*s, white), (Bytes{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}));

  std::uint8_t eop[12];
  EXPECT_EQ(BuildEndOfPage(*s, eop), 12);
  EXPECT_EQ(Bytes(eop, eop + 12),
            (Bytes{0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00}));

  // Top-margin line: 12-bit EOL + white 1728 in 29 bits, plus one byte.
  EncodeBlankLine(*s);
  EXPECT_EQ(Coded(*s), (Bytes{0x00, 0x28, 0x9B, 0x15}));
  s->lineWidth = 2048;
  EncodeBlankLine(*s);
  EXPECT_EQ(s->byteOffset, 5);
  EXPECT_EQ(s->codedLine[4], 0);
}

TEST(T4Encode, LineStartingBlackAndLengthRule) {
  struct Case {
    std::uint8_t firstByte;
    int codeBits;  // EOL16 + white 0 + black run + white make-up 1664 + terminating
  };
  // black 2 ("11") and the white rest 1726 end exactly on a byte boundary:
  // two zero bytes follow. Black 1 ("010") ends one bit into a byte.
  const Case cases[] = {{0xC0, 16 + 8 + 2 + 6 + 8}, {0x80, 16 + 8 + 3 + 6 + 8}};
  for (const Case& c : cases) {
    auto s = MakeState(1728, 0);
    std::uint8_t row[216] = {};
    row[0] = c.firstByte;
    EncodeRasterLine(*s, row);
    EXPECT_EQ(s->byteOffset, c.codeBits / 8 + 2) << int(c.firstByte);
    EXPECT_EQ(s->codedLine[2], 0xAC) << "white 0 code (00110101) first";
    EXPECT_EQ(s->codedLine[s->byteOffset - 1], 0);
    if (c.codeBits % 8 == 0) {
      EXPECT_EQ(s->codedLine[s->byteOffset - 2], 0);
      EXPECT_NE(s->codedLine[s->byteOffset - 3], 0);
    }
  }
}

TEST(T4Encode, MarginAndIgnoredTail) {
  // Margin 50: a black pixel at raster 1677 is the last coded pixel (50 + 1677 =
  // 1727); pixel 1678 lies beyond the line and is dropped.
  auto s = MakeState(1728, 50);
  std::uint8_t row[216] = {};
  row[1678 / 8] |= static_cast<std::uint8_t>(0x80 >> (1678 % 8));
  Bytes onlyTail = EncodeRow(*s, row);
  std::uint8_t white[216] = {};
  // Not the all-white shortcut, but the same single white run.
  EXPECT_EQ(onlyTail, EncodeRow(*s, white));
  row[1677 / 8] |= static_cast<std::uint8_t>(0x80 >> (1677 % 8));
  EXPECT_NE(EncodeRow(*s, row), onlyTail);
}

// The fast coder against a plain one: pixels walked one by one, runs put with
// PutRun. Rows of random runs, with margins and double width.
Bytes ReferenceLine(const std::uint8_t* row, int width, int margin, bool doubleWidth) {
  auto s = MakeState(width, margin);
  std::memset(s->codedLine.data(), 0, s->codedLine.size());
  s->byteOffset = s->bitOffset = 0;
  PutCode(*s, 0x8000, 16);
  const int scale = doubleWidth ? 2 : 1;
  const int limit = (width - margin) / scale;
  std::vector<int> runs{margin};
  bool black = false;
  for (int x = 0; x < limit; ++x) {
    bool pixel = (row[x / 8] >> (7 - x % 8)) & 1;
    if (pixel != black) {
      runs.push_back(0);
      black = pixel;
    }
    runs.back() += scale;
  }
  int sum = 0;
  for (std::size_t i = 0; i + 1 < runs.size(); ++i) sum += runs[i];
  runs.back() = width - sum;
  for (std::size_t i = 0; i < runs.size(); ++i) PutRun(*s, runs[i], i % 2 == 1);
  return Bytes(s->codedLine.begin(), s->codedLine.begin() + s->byteOffset + 2);
}

TEST(T4Encode, MatchesPixelByPixelCoding) {
  std::mt19937 rng(3);
  std::vector<std::uint8_t> row(256);
  auto s = MakeState(1728, 0);
  for (int iter = 0; iter < 3000; ++iter) {
    const int width = iter % 2 ? 2048 : 1728;
    const int margin = std::vector<int>{0, 1, 50, 63, 64, 700, width}[iter % 7];
    const bool doubleWidth = iter % 5 == 0;
    // Runs of random length, short or long, so changes fall everywhere in a word.
    std::fill(row.begin(), row.end(), 0);
    const int maxRun = iter % 3 == 0 ? 3 : iter % 3 == 1 ? 40 : 900;
    bool black = rng() % 2;
    for (int x = 0; x < width;) {
      int len = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxRun));
      for (int k = x; k < std::min(width, x + len); ++k)
        if (black) row[static_cast<std::size_t>(k / 8)] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
      x += len;
      black = !black;
    }
    s->lineWidth = width;
    s->leftMargin = margin;
    s->doubleWidth = doubleWidth;
    ASSERT_EQ(EncodeRow(*s, row.data()), ReferenceLine(row.data(), width, margin, doubleWidth))
        << "iteration " << iter << " margin " << margin << " double " << doubleWidth;
  }
}

#ifdef VELTRANE_HAVE_LIBTIFF

// Codes every row (margin 0, so the coded line is the raster) and decodes it
// with libtiff.
MonoBitmap RoundTrip(const MonoBitmap& page) {
  auto s = MakeState(page.width, 0);
  Bytes mh;
  std::vector<std::uint8_t> row(kConverterBufferSize);
  for (int y = 0; y < page.height; ++y) {
    std::memcpy(row.data(), page.Row(y), page.stride);
    EncodeRasterLine(*s, row.data());
    mh.insert(mh.end(), s->codedLine.begin(), s->codedLine.begin() + s->byteOffset);
  }
  std::uint8_t eop[12];
  BuildEndOfPage(*s, eop);
  mh.insert(mh.end(), eop, eop + 12);
  return testpeer::DecodeMhWithLibtiff(mh, page.width, page.height);
}

MonoBitmap TextLikePage(int width) {
  MonoBitmap p(width, 200);
  std::mt19937 rng(7);
  for (int y = 0; y < p.height; ++y) {
    if (y % 20 >= 12) continue;  // gaps between text lines
    for (int x = 40; x < width - 40; ++x)
      if ((x / 9) % 7 != 0 && rng() % 3 == 0) p.SetPixel(x, y, true);
  }
  return p;
}

MonoBitmap NoisePage(int width) {
  MonoBitmap p(width, 100);
  std::mt19937 rng(11);
  for (auto& b : p.bits) b = static_cast<std::uint8_t>(rng());
  return p;
}

MonoBitmap FilledPage(int width, std::uint8_t pattern) {
  MonoBitmap p(width, 8);
  for (auto& b : p.bits) b = pattern;
  return p;
}

// Runs of every length 0..2560 laid out in 2048-pixel lines, alternating colour
// so every make-up and terminating code of both colours appears.
MonoBitmap EveryRunLengthPage() {
  const int width = 2048;
  std::vector<std::vector<int>> lines(1);
  int used = 0;
  for (int len = 1; len <= 2048; ++len) {
    if (used + len > width) {
      lines.emplace_back();
      used = 0;
    }
    lines.back().push_back(len);
    used += len;
  }
  MonoBitmap p(width, static_cast<int>(lines.size()) * 2);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (int pass = 0; pass < 2; ++pass) {  // each layout once starting white, once black
      int y = static_cast<int>(i) * 2 + pass;
      int x = 0;
      bool black = pass == 1;
      for (int len : lines[i]) {
        for (int k = 0; k < len; ++k) p.SetPixel(x + k, y, black);
        x += len;
        black = !black;
      }
    }
  }
  return p;
}

TEST(T4EncodeLibtiff, PagesDecodeToTheSameBitmap) {
  struct Case {
    const char* name;
    MonoBitmap page;
  };
  const Case cases[] = {
      {"text 1728", TextLikePage(1728)},
      {"text 2048", TextLikePage(2048)},
      {"noise 1728", NoisePage(1728)},
      {"noise 2048", NoisePage(2048)},
      {"all black 1728", FilledPage(1728, 0xFF)},
      {"all black 2048", FilledPage(2048, 0xFF)},
      // One-pixel runs starting white: the most runs a line can have that
      // libtiff's run buffer (one entry per pixel) accepts; starting black adds
      // the white 0 run, which libtiff rejects as an overflow, not a code error.
      {"alternating 1728", FilledPage(1728, 0x55)},
      {"alternating 2048", FilledPage(2048, 0x55)},
      {"every run length 2048", EveryRunLengthPage()},
  };
  for (const Case& c : cases) {
    MonoBitmap decoded = RoundTrip(c.page);
    ASSERT_FALSE(decoded.Empty()) << c.name;
    int badRows = 0;
    for (int y = 0; y < c.page.height; ++y)
      if (std::memcmp(decoded.Row(y), c.page.Row(y), c.page.stride) != 0) ++badRows;
    EXPECT_EQ(badRows, 0) << c.name;
  }
}

TEST(T4EncodeLibtiff, LongRunsBeyondTheLargestMakeUpCode) {
  // A 4096-pixel white run needs a repeated 2560 make-up code.
  MonoBitmap p(4096, 2);
  p.SetPixel(4095, 0, true);
  p.SetPixel(0, 1, true);
  MonoBitmap decoded = RoundTrip(p);
  ASSERT_FALSE(decoded.Empty());
  EXPECT_EQ(decoded.bits, p.bits);
}

#endif

}  // namespace
}  // namespace veltrane::imaging
