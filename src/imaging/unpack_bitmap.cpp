// The bitmap assembler: collects a page's lines in slots of 216 or 256 bytes,
// growing 1024 lines at a time, then compacts them to the widest line and
// scales the result.
#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/imaging_errors.h"
#include "imaging/unpack.h"
#include "imaging/unpack_source.h"

namespace veltrane::imaging {

namespace {

constexpr int kSlotBlock = 1024;
// Scaled bitmaps beyond this many bytes are refused rather than attempted.
constexpr std::int64_t kMaxScaledBytes = std::int64_t{64} << 20;

std::uint8_t White(const UnpackerState& s) { return s.invert ? 0xFF : 0x00; }

int AssembleStart(UnpackerState& s) {
  BitmapAssembly& a = s.assembly;
  a.lineCount = 0;
  a.widestLine = 1;
  a.slotSize = (s.pageHeader.PageFlags & pfWide) ? kLineBytesWide : kLineBytesNormal;
  a.width = a.height = 0;
  a.bitmap = MonoBitmap();
  try {
    a.slots.assign(static_cast<std::size_t>(kSlotBlock) * a.slotSize, 0);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

int AssembleLine(UnpackerState& s, const std::uint8_t* data, int length) {
  BitmapAssembly& a = s.assembly;
  if (a.lineCount > 0 && a.lineCount % kSlotBlock == 0) {
    try {
      a.slots.resize(a.slots.size() + static_cast<std::size_t>(kSlotBlock) * a.slotSize, 0);
    } catch (const std::bad_alloc&) {
      return kErrOutOfMemory;
    }
  }
  std::uint8_t* slot = a.slots.data() + static_cast<std::size_t>(a.lineCount) * a.slotSize;
  const std::uint8_t white = White(s);
  if (length == 0) {
    std::memset(slot, white, static_cast<std::size_t>(a.slotSize));
  } else {
    const int copied = std::min(length, a.slotSize);
    std::memcpy(slot, data, static_cast<std::size_t>(copied));
    for (int i = copied - 1; i >= a.widestLine; --i)
      if (slot[i] != white) {
        a.widestLine = i + 1;
        break;
      }
  }
  a.lineCount += 1;
  return 0;
}

// Target pixel x takes source pixels [x * src / dst, (x + 1) * src / dst), at
// least one: shrinking merges pixels, stretching repeats them.
struct Span {
  int from, to;
};
Span SourceSpan(int target, int sourceSize, int targetSize) {
  const int from = static_cast<int>(std::int64_t{target} * sourceSize / targetSize);
  const int to = static_cast<int>(std::int64_t{target + 1} * sourceSize / targetSize);
  return {from, std::max(to, from + 1)};
}

// Black wins when pixels merge, whichever bit value stands for black.
MonoBitmap Scale(const MonoBitmap& source, int width, int height, bool blackBit) {
  MonoBitmap target(width, height);
  if (!blackBit) std::fill(target.bits.begin(), target.bits.end(), 0xFF);
  for (int y = 0; y < height; ++y) {
    const Span rows = SourceSpan(y, source.height, height);
    for (int x = 0; x < width; ++x) {
      const Span cols = SourceSpan(x, source.width, width);
      bool black = false;
      for (int sy = rows.from; sy < rows.to && !black; ++sy)
        for (int sx = cols.from; sx < cols.to && !black; ++sx)
          black = source.Pixel(sx, sy) == blackBit;
      if (black) target.SetPixel(x, y, blackBit);
    }
  }
  return target;
}

int AssembleEnd(UnpackerState& s) {
  BitmapAssembly& a = s.assembly;
  if (a.lineCount == 0) {
    a.slots = {};
    return 0;
  }
  const int stride = (a.widestLine + 1) & ~1;
  MonoBitmap bitmap;
  try {
    bitmap = MonoBitmap(stride * 8, a.lineCount);
  } catch (const std::bad_alloc&) {
    return kErrCantMakeBitmap;
  }
  if (bitmap.stride != static_cast<std::size_t>(stride)) return kErrCantMakeBitmap;
  for (int row = 0; row < a.lineCount; ++row) {
    std::uint8_t* to = bitmap.Row(row);
    std::memcpy(to, a.slots.data() + static_cast<std::size_t>(row) * a.slotSize,
                static_cast<std::size_t>(a.widestLine));
    if (a.widestLine < stride) to[a.widestLine] = White(s);
  }
  a.slots = {};
  if (a.horizMult != a.horizDiv || a.vertMult != a.vertDiv) {
    if (a.horizDiv == 0 || a.vertDiv == 0) return kErrCantMakeBitmap;
    const std::int64_t width = std::int64_t{a.horizMult} * bitmap.width / a.horizDiv;
    const std::int64_t height = std::int64_t{a.lineCount} * a.vertMult / a.vertDiv;
    if (width <= 0 || height <= 0 || (width + 7) / 8 * height > kMaxScaledBytes)
      return kErrCantMakeBitmap;
    try {
      bitmap = Scale(bitmap, static_cast<int>(width), static_cast<int>(height), !s.invert);
    } catch (const std::bad_alloc&) {
      return kErrCantMakeBitmap;
    }
  }
  a.width = bitmap.width;
  a.height = bitmap.height;
  a.bitmap = std::move(bitmap);
  return 0;
}

int AssemblerSink(UnpackerState& s, int flags, const std::uint8_t* data, int length) {
  switch (flags) {
    case kUnpackStarting: return AssembleStart(s);
    case kUnpackEnding: return AssembleEnd(s);
    default: return AssembleLine(s, data, length);
  }
}

int DecodeToBitmap(UnpackerState& s, UnpackSource& source, unsigned pageNumber, bool invert,
                   int& width, int& height, MonoBitmap& bitmap) {
  s.savedSink = std::move(s.outputSink);
  s.outputSink = AssemblerSink;
  ApfFileHeader fileHeader;
  int result = LocatePageInSource(source, pageNumber, fileHeader, s.pageHeader);
  if (result == 0) result = s.outputSink(s, kUnpackStarting, nullptr, 0);
  s.invert = invert;
  if (result == 0) result = DecodePageFromSource(s, source, pageNumber);
  if (result == 0) result = s.outputSink(s, kUnpackEnding, nullptr, 0);
  s.outputSink = std::move(s.savedSink);
  s.savedSink = nullptr;
  s.invert = false;
  BitmapAssembly& a = s.assembly;
  if (result == 0) {
    width = a.width;
    height = a.height;
    bitmap = std::move(a.bitmap);
  } else {
    width = height = 0;
    bitmap = MonoBitmap();
  }
  a.slots = {};
  a.bitmap = MonoBitmap();
  return result;
}

}  // namespace

int DecodePageToBitmap(UnpackerState& state, const std::string& fileName, unsigned pageNumber,
                       bool invert, int& width, int& height, MonoBitmap& bitmap) {
  state.fileName = fileName;
  FileUnpackSource source(fileName);
  if (source.OpenError() != 0) {
    width = height = 0;
    bitmap = MonoBitmap();
    return source.OpenError();
  }
  return DecodeToBitmap(state, source, pageNumber, invert, width, height, bitmap);
}

int DecodePageToBitmap(UnpackerState& state, std::span<const std::uint8_t> file,
                       unsigned pageNumber, bool invert, int& width, int& height,
                       MonoBitmap& bitmap) {
  MemoryUnpackSource source(file);
  return DecodeToBitmap(state, source, pageNumber, invert, width, height, bitmap);
}

}  // namespace veltrane::imaging
