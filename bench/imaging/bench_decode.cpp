// Decoding a letter page (1728 x 2156 at fine resolution) of text and of dense
// noise: our unpacker (whole DecodePage, and the bare walker with and without
// table steps) against libtiff's G3 one-dimensional decoder on the same bitmaps.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imaging/apf.h"
#include "imaging/bitmap.h"
#include "imaging/fax_font.h"
#include "imaging/t4_decode.h"
#include "imaging/t4_encode.h"
#include "imaging/unpack.h"

#ifdef VELTRANE_HAVE_LIBTIFF
#include <tiffio.h>
#include <unistd.h>
#endif

using namespace veltrane::imaging;

namespace {

constexpr int kWidth = 1728;
constexpr int kRows = 2156;

MonoBitmap TextPage() {
  MonoBitmap page(kWidth, kRows);
  FaxFont font;
  LoadFaxFont(font, "", ffStandard, true);
  const std::string text =
      "Dear customer, thank you for your order of 12 May. The goods will ship on Monday. ";
  for (int y = 0; y < kRows; ++y) {
    const int band = y / (font.rows + 8), row = y % (font.rows + 8) + 1;
    if (y < 150 || y > kRows - 200) continue;  // margins, as on a letter
    RasterizeTextRow(font, text.substr(band % 30) + text, row,
                     page.RowSpan(y).first(kWidth / 8 - 6));
  }
  return page;
}

MonoBitmap DensePage() {
  MonoBitmap page(kWidth, kRows);
  std::mt19937 rng(3);
  for (auto& b : page.bits) b = static_cast<std::uint8_t>(rng());
  return page;
}

const MonoBitmap& Page(int which) {
  static const MonoBitmap text = TextPage();
  static const MonoBitmap dense = DensePage();
  return which == 0 ? text : dense;
}

// The page as our converter writes it: one record per line, then end of page.
struct Coded {
  std::vector<std::uint8_t> file;    // APF, record form
  std::vector<std::uint8_t> stream;  // the same codes back to back
};

const Coded& CodedPage(int which) {
  static Coded cache[2];
  Coded& c = cache[which];
  if (!c.file.empty()) return c;
  const MonoBitmap& page = Page(which);
  auto s = std::make_unique<ConverterState>();
  s->lineWidth = kWidth;
  s->leftMargin = 0;
  std::vector<std::uint8_t> data, row(kConverterBufferSize);
  auto record = [&](const std::uint8_t* bytes, int n) {
    data.push_back(static_cast<std::uint8_t>(n));
    data.push_back(static_cast<std::uint8_t>(n >> 8));
    data.insert(data.end(), bytes, bytes + n);
    c.stream.insert(c.stream.end(), bytes, bytes + n);
  };
  for (int y = 0; y < page.height; ++y) {
    std::memcpy(row.data(), page.Row(y), page.stride);
    EncodeRasterLine(*s, row.data());
    record(s->codedLine.data(), s->byteOffset);
  }
  std::uint8_t eop[12];
  record(eop, BuildEndOfPage(*s, eop));
  c.file.resize(kApfFileHeaderSize + kApfPageHeaderSize);
  ApfFileHeader h;
  h.Signature = kApfSignature;
  h.PageCount = 1;
  h.FirstPageOffset = kApfFileHeaderSize;
  EncodeFileHeader(h, c.file.data());
  EncodePageHeader({static_cast<std::uint32_t>(data.size()), pfLengthWords | pfHighRes},
                   c.file.data() + kApfFileHeaderSize);
  c.file.insert(c.file.end(), data.begin(), data.end());
  return c;
}

void BM_OurDecodePage(benchmark::State& st) {
  const Coded& c = CodedPage(static_cast<int>(st.range(0)));
  std::unique_ptr<UnpackerState> s;
  std::uint64_t lines = 0;
  CreateUnpacker(s, nullptr, [&](UnpackerState&, int, const std::uint8_t*, int) {
    ++lines;
    return 0;
  });
  ClearUnpackerFlags(*s, 0xFFFF);
  for (auto _ : st) {
    if (DecodePage(*s, c.file, 1) != 0) st.SkipWithError("decode failed");
  }
  st.counters["lines"] = static_cast<double>(lines) / static_cast<double>(st.iterations());
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * c.file.size()));
}

void BM_OurDecodeToBitmap(benchmark::State& st) {
  const Coded& c = CodedPage(static_cast<int>(st.range(0)));
  std::unique_ptr<UnpackerState> s;
  CreateUnpacker(s, nullptr, nullptr);
  ClearUnpackerFlags(*s, 0xFFFF);
  for (auto _ : st) {
    int w = 0, h = 0;
    MonoBitmap bmp;
    if (DecodePageToBitmap(*s, c.file, 1, false, w, h, bmp) != 0 || h != kRows)
      st.SkipWithError("decode failed");
    benchmark::DoNotOptimize(bmp.bits.data());
  }
}

struct Count final : T4LineReceiver {
  int lines = 0;
  bool Line(const std::uint8_t*, int) override {
    ++lines;
    return true;
  }
};

void WalkOnly(benchmark::State& st, bool perBit) {
  const Coded& c = CodedPage(static_cast<int>(st.range(0)));
  Count count;
  T4Walker walker(count, perBit);
  for (auto _ : st) {
    walker.StartPage();
    walker.Walk(c.stream);
  }
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * c.stream.size()));
}
void BM_OurWalkTableSteps(benchmark::State& st) { WalkOnly(st, false); }
void BM_OurWalkPerBit(benchmark::State& st) { WalkOnly(st, true); }

#ifdef VELTRANE_HAVE_LIBTIFF
// libtiff's G3 1-D coding of the same page, as a one-strip TIFF in /dev/shm.
struct ShmFiles {
  std::string paths[2];
  ~ShmFiles() {
    for (const std::string& p : paths)
      if (!p.empty()) ::unlink(p.c_str());
  }
};

std::string LibtiffFile(int which) {
  static ShmFiles files;
  std::string* paths = files.paths;
  if (!paths[which].empty()) return paths[which];
  std::string path = "/dev/shm/veltrane-bench-" + std::to_string(::getpid()) + "-" +
                     std::to_string(which) + ".tif";
  const MonoBitmap& page = Page(which);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(kWidth));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(kRows));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(kRows));
  std::vector<std::uint8_t> row(page.stride);
  for (int y = 0; y < kRows; ++y) {
    std::memcpy(row.data(), page.Row(y), page.stride);
    TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
  }
  TIFFClose(tif);
  paths[which] = path;
  return path;
}

void BM_LibtiffDecodeStrip(benchmark::State& st) {
  const std::string path = LibtiffFile(static_cast<int>(st.range(0)));
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) {
    st.SkipWithError("libtiff open failed");
    return;
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(TIFFStripSize(tif)));
  for (auto _ : st) {
    if (TIFFReadEncodedStrip(tif, 0, out.data(), static_cast<tmsize_t>(out.size())) < 0)
      st.SkipWithError("libtiff decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  TIFFClose(tif);
}
BENCHMARK(BM_LibtiffDecodeStrip)->Arg(0)->Arg(1)->ArgName("dense");
#endif

BENCHMARK(BM_OurDecodePage)->Arg(0)->Arg(1)->ArgName("dense");
BENCHMARK(BM_OurDecodeToBitmap)->Arg(0)->Arg(1)->ArgName("dense");
BENCHMARK(BM_OurWalkTableSteps)->Arg(0)->Arg(1)->ArgName("dense");
BENCHMARK(BM_OurWalkPerBit)->Arg(0)->Arg(1)->ArgName("dense");

}  // namespace
