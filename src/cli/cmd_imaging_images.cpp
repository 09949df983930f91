#include "cli/cmd_imaging_images.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

namespace veltrane::cli {
namespace {

constexpr std::size_t kStoredBlockMax = 65535;

void Put32Be(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
  Put32Be(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32Be(out, Crc32(out.data() + start, out.size() - start));
}

// A zlib stream of stored deflate blocks.
std::vector<std::uint8_t> ZlibStored(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> z = {0x78, 0x01};
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min(kStoredBlockMax, raw.size() - pos);
    const bool last = pos + n == raw.size();
    z.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
    pos += n;
  } while (pos < raw.size());
  Put32Be(z, Adler32(raw.data(), raw.size()));
  return z;
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t Adler32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t a = 1, b = 0;
  for (std::size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

std::vector<std::uint8_t> EncodePbm(const imaging::MonoBitmap& page) {
  const std::string head = "P4\n" + std::to_string(page.width) + " " + std::to_string(page.height) + "\n";
  std::vector<std::uint8_t> out(head.begin(), head.end());
  const std::size_t rowBytes = static_cast<std::size_t>(page.width + 7) / 8;
  for (int y = 0; y < page.height; ++y) out.insert(out.end(), page.Row(y), page.Row(y) + rowBytes);
  return out;
}

std::vector<std::uint8_t> EncodePng(const imaging::MonoBitmap& page, int xDpi, int yDpi) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> ihdr;
  Put32Be(ihdr, static_cast<std::uint32_t>(page.width));
  Put32Be(ihdr, static_cast<std::uint32_t>(page.height));
  ihdr.insert(ihdr.end(), {1, 0, 0, 0, 0});  // 1 bit, greyscale, deflate, no filter, no interlace
  PutChunk(out, "IHDR", ihdr);

  std::vector<std::uint8_t> phys;
  Put32Be(phys, static_cast<std::uint32_t>(std::lround(xDpi / 0.0254)));
  Put32Be(phys, static_cast<std::uint32_t>(std::lround(yDpi / 0.0254)));
  phys.push_back(1);  // unit: metre
  PutChunk(out, "pHYs", phys);

  // Greyscale 0 is black, so our rows (1 = black) go in inverted, each behind
  // the filter-type byte 0. Bits past the width are padding either way.
  const std::size_t rowBytes = static_cast<std::size_t>(page.width + 7) / 8;
  std::vector<std::uint8_t> raw;
  raw.reserve((rowBytes + 1) * static_cast<std::size_t>(page.height));
  for (int y = 0; y < page.height; ++y) {
    raw.push_back(0);
    for (std::size_t i = 0; i < rowBytes; ++i) raw.push_back(static_cast<std::uint8_t>(~page.Row(y)[i]));
  }
  PutChunk(out, "IDAT", ZlibStored(raw));
  PutChunk(out, "IEND", {});
  return out;
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace veltrane::cli
