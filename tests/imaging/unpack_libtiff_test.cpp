// Independent decoding: G3 one-dimensional data written by libtiff decodes with
// our unpacker to exactly the bitmap libtiff reads back, and pages coded by our
// own line coder decode to the pages they came from.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "imaging/t4_encode.h"
#include "imaging/unpack.h"
#include "tiff_test_pages.h"
#include "unpack_test_util.h"

#ifdef VELTRANE_HAVE_LIBTIFF
#include <tiffio.h>
#include <unistd.h>
#endif

namespace veltrane::imaging {
namespace {

using namespace unpacktest;
using testpages::NamedPage;

// Our decode of one page into rows of exactly lineBytes bytes.
std::vector<std::vector<std::uint8_t>> DecodeRows(const std::vector<std::uint8_t>& file,
                                                  std::uint32_t* invalidCodes = nullptr) {
  CollectedLines out;
  std::unique_ptr<UnpackerState> s;
  EXPECT_EQ(CreateUnpacker(s, nullptr, Collect(out)), 0);
  ClearUnpackerFlags(*s, 0xFFFF);
  EXPECT_EQ(DecodePage(*s, file, 1), 0);
  if (invalidCodes) *invalidCodes = s->invalidCodes;
  return out.lines;
}

void ExpectRowsEqual(const std::vector<std::vector<std::uint8_t>>& rows, const MonoBitmap& page,
                     const std::string& name) {
  ASSERT_EQ(static_cast<int>(rows.size()), page.height) << name;
  const std::size_t bytes = static_cast<std::size_t>(page.width / 8);
  for (int y = 0; y < page.height; ++y) {
    ASSERT_EQ(rows[y].size(), bytes) << name << " row " << y;
    ASSERT_EQ(0, std::memcmp(rows[y].data(), page.Row(y), bytes)) << name << " row " << y;
  }
}

#ifdef VELTRANE_HAVE_LIBTIFF
struct LibtiffCoded {
  std::vector<std::uint8_t> strip;  // raw MH, first bit in bit 0
  MonoBitmap decoded;               // what libtiff reads back
};

LibtiffCoded EncodeWithLibtiff(const MonoBitmap& page) {
  LibtiffCoded result;
  char path[] = "/tmp/veltrane-g3-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return result;
  ::close(fd);
  TIFFSetWarningHandler(nullptr);
  if (TIFF* tif = TIFFOpen(path, "w")) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(page.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(page.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(page.height));
    std::vector<std::uint8_t> row(page.stride);
    for (int y = 0; y < page.height; ++y) {
      std::memcpy(row.data(), page.Row(y), page.stride);
      TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tif);
  }
  if (TIFF* in = TIFFOpen(path, "r")) {
    const tmsize_t rawSize = static_cast<tmsize_t>(TIFFRawStripSize(in, 0));
    result.strip.resize(static_cast<std::size_t>(rawSize));
    const tmsize_t got = TIFFReadRawStrip(in, 0, result.strip.data(), rawSize);
    result.strip.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    result.decoded = MonoBitmap(page.width, page.height);
    for (int y = 0; y < page.height; ++y)
      TIFFReadScanline(in, result.decoded.Row(y), static_cast<std::uint32_t>(y));
    TIFFClose(in);
  }
  ::unlink(path);
  return result;
}

TEST(UnpackLibtiff, G3DataWrittenByLibtiffDecodesToLibtiffsBitmap) {
  for (const NamedPage& p : testpages::VariedPages()) {
    const LibtiffCoded coded = EncodeWithLibtiff(p.page);
    ASSERT_FALSE(coded.strip.empty()) << p.name;
    // libtiff ends the strip without RTC; a page received from the line has
    // one, and a line counts only once an EOL ends it. Zero bits before the
    // appended EOLs are fill.
    std::vector<std::uint8_t> data = coded.strip;
    const std::vector<std::uint8_t> rtc = MhBits().Rtc().Bytes();
    data.insert(data.end(), rtc.begin(), rtc.end());
    const std::uint16_t flags = pfHighRes | (p.page.width == 2048 ? pfWide : 0);
    std::uint32_t invalid = 0;
    const auto rows = DecodeRows(BuildApf({{flags, data}}), &invalid);
    ExpectRowsEqual(rows, coded.decoded, p.name + " vs libtiff");
    ExpectRowsEqual(rows, p.page, p.name + " vs source");
    EXPECT_EQ(invalid, 0u) << p.name;
  }
}
#endif

// Record form as our converter writes it: one record per coded line, then the
// end-of-page record.
std::vector<std::uint8_t> EncodeAsRecords(const MonoBitmap& page) {
  auto s = std::make_unique<ConverterState>();
  s->lineWidth = page.width;
  s->leftMargin = 0;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> row(kConverterBufferSize);
  for (int y = 0; y < page.height; ++y) {
    std::memcpy(row.data(), page.Row(y), page.stride);
    EncodeRasterLine(*s, row.data());
    AppendRecord(data, {s->codedLine.begin(), s->codedLine.begin() + s->byteOffset});
  }
  std::uint8_t eop[12];
  AppendRecord(data, {eop, eop + BuildEndOfPage(*s, eop)});
  return data;
}

TEST(UnpackRoundTrip, OurCodedPagesDecodeToTheirSource) {
  std::vector<NamedPage> pages = testpages::VariedPages();
  pages.push_back({"alternating from black", testpages::AlternatingPage(1728, 6, true)});
  pages.push_back({"wide alternating from black", testpages::AlternatingPage(2048, 6, true)});
  for (const NamedPage& p : pages) {
    const std::uint16_t flags =
        pfLengthWords | pfHighRes | (p.page.width == 2048 ? pfWide : 0);
    std::uint32_t invalid = 0;
    const auto rows = DecodeRows(BuildApf({{flags, EncodeAsRecords(p.page)}}), &invalid);
    ExpectRowsEqual(rows, p.page, p.name);
    EXPECT_EQ(invalid, 0u) << p.name;
  }
}

TEST(UnpackRoundTrip, BitmapOfACodedTextPage) {
  const MonoBitmap page = testpages::TextPage(1728, 120);
  std::unique_ptr<UnpackerState> s;
  ASSERT_EQ(CreateUnpacker(s, nullptr, nullptr), 0);
  int width = 0, height = 0;
  MonoBitmap bitmap;
  const auto file = BuildApf({{pfLengthWords | pfHighRes, EncodeAsRecords(page)}});
  ASSERT_EQ(DecodePageToBitmap(*s, file, 1, false, width, height, bitmap), 0);
  EXPECT_EQ(height, page.height);
  ASSERT_LE(width, page.width);
  EXPECT_EQ(width % 16, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < page.width; ++x)
      ASSERT_EQ(x < width && bitmap.Pixel(x, y), page.Pixel(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace veltrane::imaging
