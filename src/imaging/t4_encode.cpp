#include "imaging/t4_encode.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/t4_codes.h"

namespace veltrane::imaging {
namespace {

// At 4.5 bits per pixel for alternating one-pixel runs, 4096 pixels code to
// about 2.3 KB and always fit the 4096-byte coded-line buffer.
constexpr int kMaxCodedLineWidth = 4096;

// The coded-line buffer must stay zero beyond the last code: clear only what
// the previous line could have touched instead of all 4096 bytes.
void ClearCodedLine(ConverterState& s) {
  int used = std::min<int>(s.codedHighWater, static_cast<int>(kConverterBufferSize));
  std::memset(s.codedLine.data(), 0, static_cast<std::size_t>(used));
  s.byteOffset = 0;
  s.bitOffset = 0;
}

void NoteHighWater(ConverterState& s) {
  // PutCode touches up to three bytes past byteOffset.
  s.codedHighWater = std::min<int>(s.byteOffset + 4, static_cast<int>(kConverterBufferSize));
}

std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// First pixel at or after `pos` (and before `limit`) whose colour differs from
// `black`, or `limit`. Scans 64 pixels at a time.
int FindColourChange(const std::uint8_t* row, int pos, int limit, bool black) {
  const std::uint64_t flip = black ? ~std::uint64_t{0} : 0;
  const int endByte = (limit + 7) >> 3;
  while (pos < limit) {
    const int byte = pos >> 3;
    const int skip = pos & 7;
    std::uint64_t word;
    int avail;
    if (byte + 8 <= endByte) {
      word = LoadBigEndian64(row + byte);
      avail = 64;
    } else {
      word = 0;
      avail = 0;
      for (int i = byte; i < endByte; ++i, avail += 8)
        word |= static_cast<std::uint64_t>(row[i]) << (56 - avail);
    }
    // Bits past the loaded bytes come out as "changed" for black; min() below
    // turns that into `limit`.
    word = (word ^ flip) << skip;
    if (word != 0) return std::min(pos + std::countl_zero(word), limit);
    pos += avail - skip;
  }
  return limit;
}

bool AllWhite(const std::uint8_t* raster, int bytes) {
  int i = 0;
  for (; i + 8 <= bytes; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, raster + i, 8);
    if (w != 0) return false;
  }
  for (; i < bytes; ++i)
    if (raster[i] != 0) return false;
  return true;
}

}  // namespace

void PutCode(ConverterState& s, std::uint16_t code, int length) {
  // Three bytes hold any code of up to 16 bits at any bit offset.
  std::uint32_t shifted = static_cast<std::uint32_t>(code) << s.bitOffset;
  std::uint8_t* p = s.codedLine.data() + s.byteOffset;
  p[0] |= static_cast<std::uint8_t>(shifted);
  p[1] |= static_cast<std::uint8_t>(shifted >> 8);
  p[2] |= static_cast<std::uint8_t>(shifted >> 16);
  int bits = s.bitOffset + length;
  s.byteOffset += bits >> 3;
  s.bitOffset = bits & 7;
}

void PutRun(ConverterState& s, int length, bool black) {
  const T4CodeTables& t = T4Codes();
  const auto& makeUp = black ? t.blackMakeUp : t.whiteMakeUp;
  // Runs beyond the largest make-up code repeat it; lines of at most 2048
  // pixels never need this.
  while (length > 2560 + 63) {
    PutCode(s, makeUp[40].bits, makeUp[40].length);
    length -= 2560;
  }
  if (length >= 64) {
    const T4Code& m = makeUp[static_cast<std::size_t>(length >> 6)];
    PutCode(s, m.bits, m.length);
  }
  const T4Code& term = (black ? t.blackTerminating : t.whiteTerminating)[static_cast<std::size_t>(length & 63)];
  PutCode(s, term.bits, term.length);
}

void EncodeRasterLine(ConverterState& s, const std::uint8_t* raster) {
  ClearCodedLine(s);
  const int width = std::clamp(s.lineWidth, 0, kMaxCodedLineWidth);
  const int margin = std::clamp(s.leftMargin, 0, width);
  PutCode(s, kT4Eol16.bits, kT4Eol16.length);

  if (AllWhite(raster, width / 8)) {
    PutRun(s, width, false);
  } else {
    // Without double width the line is the margin followed by raster pixels
    // 0 .. width - margin - 1. With double width every raster pixel counts
    // twice; the margin is put once, so the image starts at the same place
    // either way, and the last run absorbs an odd pixel left over.
    const int scale = s.doubleWidth ? 2 : 1;
    const int limit = (width - margin) / scale;
    int coded = 0;
    int pos = 0;
    int run = margin;
    bool black = false;
    for (;;) {
      int next = FindColourChange(raster, pos, limit, black);
      run += (next - pos) * scale;
      pos = next;
      if (pos >= limit) break;
      PutRun(s, run, black);
      coded += run;
      black = !black;
      run = 0;
    }
    PutRun(s, width - coded, black);
  }
  s.byteOffset += 2;
  NoteHighWater(s);
}

void EncodeBlankLine(ConverterState& s) {
  ClearCodedLine(s);
  PutCode(s, kT4Eol12.bits, kT4Eol12.length);
  PutRun(s, std::clamp(s.lineWidth, 0, kMaxCodedLineWidth), false);
  s.byteOffset += 1;
  NoteHighWater(s);
}

int BuildEndOfPage(ConverterState& s, std::uint8_t* target) {
  ClearCodedLine(s);
  PutCode(s, kT4Eol16.bits, kT4Eol16.length);
  for (int i = 0; i < 7; ++i) PutCode(s, kT4Eol12.bits, kT4Eol12.length);
  NoteHighWater(s);
  std::memcpy(target, s.codedLine.data(), 12);
  return 12;
}

}  // namespace veltrane::imaging
