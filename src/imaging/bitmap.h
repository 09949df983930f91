// A one-bit bitmap shared by the converter, the unpacker and the renderer:
// rows top to bottom, 8 pixels per byte, leftmost pixel in the most significant
// bit, 1 = black, each row padded to `stride` bytes (at least ceil(width / 8)).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veltrane::imaging {

struct MonoBitmap {
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
  std::vector<std::uint8_t> bits;

  MonoBitmap() = default;
  // All white. Negative sizes give an empty bitmap.
  MonoBitmap(int w, int h);

  bool Empty() const { return width <= 0 || height <= 0; }
  std::uint8_t* Row(int y) { return bits.data() + static_cast<std::size_t>(y) * stride; }
  const std::uint8_t* Row(int y) const { return bits.data() + static_cast<std::size_t>(y) * stride; }
  std::span<std::uint8_t> RowSpan(int y) { return {Row(y), stride}; }
  std::span<const std::uint8_t> RowSpan(int y) const { return {Row(y), stride}; }
  bool Pixel(int x, int y) const { return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
  void SetPixel(int x, int y, bool black) {
    std::uint8_t mask = static_cast<std::uint8_t>(0x80u >> (x & 7));
    if (black)
      Row(y)[x >> 3] |= mask;
    else
      Row(y)[x >> 3] &= static_cast<std::uint8_t>(~mask);
  }
  bool operator==(const MonoBitmap&) const = default;
};

// Writes a one-bit BMP (rows bottom-up, colour table black first, so a 0 bit
// is black as every one-bit BMP reader expects). Returns 0 or a file error.
int WriteMonoBmp(const std::string& path, const MonoBitmap& bitmap);

}  // namespace veltrane::imaging
