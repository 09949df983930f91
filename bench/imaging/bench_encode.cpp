// T.4 one-dimensional encoding of a letter page (1728 x 2156, text drawn with
// the fax font) and of a dense page (random pixels): ours, to memory and to
// an APF file, against libtiff's G3 1-D encoder writing a TIFF, all in /dev/shm
// when it exists.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/apf.h"
#include "imaging/bitmap.h"
#include "imaging/fax_font.h"
#include "imaging/t4_encode.h"

#ifdef VELTRANE_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace veltrane::imaging;

namespace {

constexpr int kWidth = 1728;
constexpr int kRows = 2156;

std::string ScratchPath(const char* name) {
  std::filesystem::path dir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  return (dir / (std::string("veltrane-bench-") + std::to_string(::getpid()) + name)).string();
}

const MonoBitmap& TextPage() {
  static const MonoBitmap page = [] {
    MonoBitmap p(kWidth, kRows);
    FaxFont font;
    LoadFaxFont(font, "", ffStandard, true);
    const char* lines[] = {
        "Dear customer, thank you for your order of 12 March. The parts ship",
        "on Monday by road; please allow three to five days for delivery.",
        "Invoice 2026-0412 is enclosed. Questions? Call us at +1 555 0100.",
        "",
    };
    int y = 100;
    for (int n = 0; y + font.rows < kRows - 100; ++n, y += font.rows + 12) {
      std::span<std::uint8_t> dummy;
      for (int r = 1; r <= font.rows; ++r) {
        // Text starts 100 pixels in, on a byte boundary.
        RasterizeTextRow(font, lines[n % 4], r, std::span<std::uint8_t>(p.Row(y + r - 1) + 13, p.stride - 13));
      }
      (void)dummy;
    }
    return p;
  }();
  return page;
}

const MonoBitmap& NoisePage() {
  static const MonoBitmap page = [] {
    MonoBitmap p(kWidth, kRows);
    std::mt19937 rng(42);
    for (auto& b : p.bits) b = static_cast<std::uint8_t>(rng());
    return p;
  }();
  return page;
}

std::size_t EncodeToMemory(const MonoBitmap& page, ConverterState& s, std::vector<std::uint8_t>& out) {
  out.clear();
  for (int y = 0; y < page.height; ++y) {
    EncodeRasterLine(s, page.Row(y));
    out.insert(out.end(), s.codedLine.begin(), s.codedLine.begin() + s.byteOffset);
  }
  return out.size();
}

void BM_Ours_Memory(benchmark::State& st, const MonoBitmap& (*pageOf)()) {
  const MonoBitmap& page = pageOf();
  auto s = std::make_unique<ConverterState>();
  s->leftMargin = 0;
  std::vector<std::uint8_t> out;
  out.reserve(1 << 22);
  std::size_t bytes = 0;
  for (auto _ : st) bytes = EncodeToMemory(page, *s, out);
  st.counters["coded_bytes"] = static_cast<double>(bytes);
}

void BM_Ours_ApfFile(benchmark::State& st, const MonoBitmap& (*pageOf)()) {
  const MonoBitmap& page = pageOf();
  auto s = std::make_unique<ConverterState>();
  s->leftMargin = 0;
  const std::string path = ScratchPath("-ours.apf");
  for (auto _ : st) {
    ApfWriter w;
    w.Open(path);
    w.SetPageFlags(pfHighRes);
    for (int y = 0; y < page.height; ++y) {
      EncodeRasterLine(*s, page.Row(y));
      w.WriteLine(s->codedLine.data(), static_cast<std::size_t>(s->byteOffset));
    }
    w.EndPage();
    w.Finish("");
  }
  std::filesystem::remove(path);
}

#ifdef VELTRANE_HAVE_LIBTIFF
void BM_Libtiff_G3File(benchmark::State& st, const MonoBitmap& (*pageOf)()) {
  const MonoBitmap& page = pageOf();
  const std::string path = ScratchPath("-libtiff.tif");
  TIFFSetWarningHandler(nullptr);
  std::vector<std::uint8_t> row(page.stride);
  for (auto _ : st) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(page.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(page.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(page.height));
    for (int y = 0; y < page.height; ++y) {
      std::memcpy(row.data(), page.Row(y), page.stride);  // libtiff may scribble on its input
      TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tif);
  }
  std::filesystem::remove(path);
}
BENCHMARK_CAPTURE(BM_Libtiff_G3File, text, TextPage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Libtiff_G3File, noise, NoisePage)->Unit(benchmark::kMicrosecond);
#endif

BENCHMARK_CAPTURE(BM_Ours_Memory, text, TextPage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Ours_Memory, noise, NoisePage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Ours_ApfFile, text, TextPage)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Ours_ApfFile, noise, NoisePage)->Unit(benchmark::kMicrosecond);

}  // namespace
