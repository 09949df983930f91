// APF bytes into the unpacker: every page (up to a few) decoded to lines with
// the option byte's flags, and to a bitmap. Any input must end without a crash,
// a hang or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/unpack.h"

using namespace veltrane::imaging;

namespace {
constexpr unsigned kMaxPagesTried = 8;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The last byte picks the options, so the file bytes stay a plain APF file.
  const std::uint8_t options = data[size - 1];
  const std::span<const std::uint8_t> file(data, size - 1);

  std::uint64_t lineBytes = 0;
  std::unique_ptr<UnpackerState> state;
  if (CreateUnpacker(state, nullptr, [&](UnpackerState&, int, const std::uint8_t* line, int length) {
        for (int i = 0; i < length; ++i) lineBytes += line[i];
        return 0;
      }) != 0)
    return 0;
  ClearUnpackerFlags(*state, 0xFFFF);
  SetUnpackerFlags(*state, options & (ufDoubleHeight | ufHalfWidth));
  if (options & 0x10) SetWhitespace(*state, 4, 1);
  if (options & 0x20) SetScaling(*state, 1, 2, 1, 2);
  const bool invert = options & 0x40;

  for (unsigned page = 1; page <= kMaxPagesTried; ++page) {
    if (DecodePage(*state, file, page) == kErrNotApf && page > 1) break;
    int width = 0, height = 0;
    MonoBitmap bitmap;
    DecodePageToBitmap(*state, file, page, invert, width, height, bitmap);
    if (width != bitmap.width || height != bitmap.height) __builtin_trap();
  }
  return 0;
}
