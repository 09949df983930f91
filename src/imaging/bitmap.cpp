#include "imaging/bitmap.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "imaging/imaging_errors.h"

namespace veltrane::imaging {

MonoBitmap::MonoBitmap(int w, int h) {
  if (w <= 0 || h <= 0) return;
  width = w;
  height = h;
  stride = (static_cast<std::size_t>(w) + 7) / 8;
  bits.assign(stride * static_cast<std::size_t>(h), 0);
}

namespace {
void Put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
  v[at] = static_cast<std::uint8_t>(x);
  v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}
void Put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}
}  // namespace

int WriteMonoBmp(const std::string& path, const MonoBitmap& bitmap) {
  const int w = bitmap.width > 0 ? bitmap.width : 0;
  const int h = bitmap.height > 0 ? bitmap.height : 0;
  const std::size_t rowBytes = (static_cast<std::size_t>(w) + 7) / 8;
  const std::size_t padded = (rowBytes + 3) & ~std::size_t{3};
  const std::size_t headerBytes = 14 + 40 + 8;
  std::vector<std::uint8_t> out(headerBytes + padded * static_cast<std::size_t>(h), 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<std::uint32_t>(out.size()));
  Put32(out, 10, static_cast<std::uint32_t>(headerBytes));
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<std::uint32_t>(w));
  Put32(out, 22, static_cast<std::uint32_t>(h));
  Put16(out, 26, 1);  // planes
  Put16(out, 28, 1);  // bits per pixel
  Put32(out, 34, static_cast<std::uint32_t>(padded * static_cast<std::size_t>(h)));
  Put32(out, 38, 7874);  // 200 dpi
  Put32(out, 42, 7874);
  Put32(out, 46, 2);
  // Colour 0 black (already zero), colour 1 white.
  out[58] = out[59] = out[60] = 0xFF;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* dst = out.data() + headerBytes + padded * static_cast<std::size_t>(h - 1 - y);
    const std::uint8_t* src = bitmap.Row(y);
    for (std::size_t i = 0; i < rowBytes; ++i) dst[i] = static_cast<std::uint8_t>(~src[i]);
    if (w % 8) dst[rowBytes - 1] |= static_cast<std::uint8_t>(0xFFu >> (w % 8));
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) return FileErrorFromErrno(errno);
  if (std::fwrite(out.data(), 1, out.size(), f.get()) != out.size()) {
    int rc = FileErrorFromErrno(errno);
    f.reset();
    std::remove(path.c_str());
    return rc == kErrReadPastEnd ? kErrDiskWrite : rc;
  }
  if (std::fclose(f.release()) != 0) {
    std::remove(path.c_str());
    return kErrDiskWrite;
  }
  return 0;
}

}  // namespace veltrane::imaging
