#include "imaging/dither.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "imaging/apf.h"

namespace veltrane::imaging {
namespace {

// BMP file header (14 bytes) and BITMAPINFOHEADER (40 bytes):
//   offset size field
//        0    2 type "BM"
//       10    4 offset of the pixel data
//       14    4 size of the information header (>= 40)
//       18    4 width (signed)
//       22    4 height (signed; negative = rows top-down)
//       28    2 bits per pixel
//       30    4 compression (0 = BI_RGB)
//       46    4 colours used (0 = all of 2^bits)
//  14 + info  4n colour table, blue green red reserved
constexpr std::size_t kMaxDitherFileSize = 64u << 20;

std::uint32_t U32(std::span<const std::uint8_t> f, std::size_t at) {
  return static_cast<std::uint32_t>(f[at] | (f[at + 1] << 8) | (f[at + 2] << 16)) |
         (static_cast<std::uint32_t>(f[at + 3]) << 24);
}
std::uint16_t U16(std::span<const std::uint8_t> f, std::size_t at) {
  return static_cast<std::uint16_t>(f[at] | (f[at + 1] << 8));
}

DitherMatrix BuildMatrix() {
  DitherMatrix m{};
  for (int x = 0; x < 16; ++x)
    for (int y = 0; y < 16; ++y) {
      // Interleaving the low bits of (x XOR y) and y, lowest first, gives the
      // recursive Bayer order 0..255.
      int i = x, j = y, t = 0;
      for (int step = 0; step < 4; ++step) {
        t = (t << 2) | (((i ^ j) & 1) << 1) | (j & 1);
        i >>= 1;
        j >>= 1;
      }
      m[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)] = static_cast<std::uint8_t>((t * 255) >> 8);
    }
  return m;
}

}  // namespace

const DitherMatrix& TDitherMatrix() {
  static const DitherMatrix matrix = BuildMatrix();
  return matrix;
}

bool DitherBmp(std::span<const std::uint8_t> f, MonoBitmap& out) {
  if (f.size() < 54 || f[0] != 'B' || f[1] != 'M') return false;
  const std::uint32_t dataOffset = U32(f, 10);
  const std::uint32_t infoSize = U32(f, 14);
  const std::int32_t width = static_cast<std::int32_t>(U32(f, 18));
  const std::int32_t rawHeight = static_cast<std::int32_t>(U32(f, 22));
  const int bits = U16(f, 28);
  if (infoSize < 40 || infoSize > f.size() - 14 || U32(f, 30) != 0) return false;
  if (bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return false;
  const bool topDown = rawHeight < 0;
  const std::int64_t height = topDown ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
  const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
  if (dataOffset > f.size() || rowBytes * static_cast<std::uint64_t>(height) > f.size() - dataOffset) return false;

  // Colour table for the palette formats; a missing entry reads as black.
  std::array<std::uint8_t, 256> grey{};
  if (bits <= 8) {
    std::uint32_t used = U32(f, 46);
    std::size_t entries = used == 0 || used > (1u << bits) ? (1u << bits) : used;
    std::size_t table = 14 + infoSize;
    for (std::size_t i = 0; i < entries && table + 4 * i + 3 <= f.size(); ++i) {
      std::size_t e = table + 4 * i;
      grey[i] = static_cast<std::uint8_t>((f[e] + f[e + 1] + f[e + 2]) / 3);
    }
  }
  const DitherMatrix& m = TDitherMatrix();
  out = MonoBitmap(width, static_cast<int>(height));
  for (std::int64_t y = 0; y < height; ++y) {
    std::int64_t fileRow = topDown ? y : height - 1 - y;
    const std::uint8_t* row = f.data() + dataOffset + static_cast<std::size_t>(fileRow) * rowBytes;
    for (std::int32_t x = 0; x < width; ++x) {
      int mean;
      if (bits == 4)
        mean = grey[(row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F];
      else if (bits == 8)
        mean = grey[row[x]];
      else {
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * (bits / 8);
        mean = (p[0] + p[1] + p[2]) / 3;
      }
      if (mean <= m[static_cast<std::size_t>(x % 16)][static_cast<std::size_t>(y % 16)])
        out.SetPixel(x, static_cast<int>(y), true);
    }
  }
  return true;
}

bool DitherBmpFile(const std::string& path, std::string& tempPath) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxDitherFileSize) return false;
  std::vector<std::uint8_t> bytes;
  if (ReadWholeFile(path, bytes) != 0) return false;
  MonoBitmap mono;
  if (!DitherBmp(bytes, mono)) return false;
  std::string pattern = (std::filesystem::temp_directory_path(ec) / "~DITXXXXXX.BMP").string();
  if (ec) return false;
  int fd = ::mkstemps(pattern.data(), 4);
  if (fd < 0) return false;
  ::close(fd);
  if (WriteMonoBmp(pattern, mono) != 0) {
    std::filesystem::remove(pattern, ec);
    return false;
  }
  tempPath = pattern;
  return true;
}

}  // namespace veltrane::imaging
