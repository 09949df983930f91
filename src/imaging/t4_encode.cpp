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

// Pixels [pos, pos + 64) of a row as a word, first pixel in the top bit; bytes
// at or beyond endByte read as 0, so a short row is never read past its end.
std::uint64_t LoadPixels(const std::uint8_t* row, int byte, int endByte) {
  if (byte + 8 <= endByte) return LoadBigEndian64(row + byte);
  std::uint64_t word = 0;
  for (int i = byte, shift = 56; i < endByte; ++i, shift -= 8) word |= static_cast<std::uint64_t>(row[i]) << shift;
  return word;
}

// Collects codes in a 64-bit accumulator and stores 32 bits at a time: the
// same bits PutCode would OR into the (zeroed) buffer, with fewer stores.
class CodeWriter {
 public:
  explicit CodeWriter(ConverterState& s)
      : s_(s), out_(s.codedLine.data() + s.byteOffset), acc_(s.codedLine[static_cast<std::size_t>(s.byteOffset)]),
        bits_(s.bitOffset) {}

  void Put(const T4Code& c) {
    acc_ |= static_cast<std::uint64_t>(c.bits) << bits_;
    bits_ += c.length;
    if (bits_ >= 32) {
      const std::uint32_t low = static_cast<std::uint32_t>(acc_);
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out_, &low, 4);
      } else {
        for (int i = 0; i < 4; ++i) out_[i] = static_cast<std::uint8_t>(low >> (8 * i));
      }
      out_ += 4;
      acc_ >>= 32;
      bits_ -= 32;
    }
  }

  void Run(int length, bool black, const T4CodeTables& t) {
    const auto& makeUp = black ? t.blackMakeUp : t.whiteMakeUp;
    while (length > 2560 + 63) {
      Put(makeUp[40]);
      length -= 2560;
    }
    if (length >= 64) Put(makeUp[static_cast<std::size_t>(length >> 6)]);
    Put((black ? t.blackTerminating : t.whiteTerminating)[static_cast<std::size_t>(length & 63)]);
  }

  // Writes out what is left and puts the state's bit position after it.
  void Finish() {
    for (int left = bits_; left > 0; left -= 8) {
      *out_++ = static_cast<std::uint8_t>(acc_);
      acc_ >>= 8;
    }
    if (bits_ % 8 != 0) --out_;  // the last byte is only partly used
    s_.byteOffset = static_cast<int>(out_ - s_.codedLine.data());
    s_.bitOffset = bits_ % 8;
  }

 private:
  ConverterState& s_;
  std::uint8_t* out_;
  std::uint64_t acc_;
  int bits_;
};

// Codes the runs of raster pixels [0, limit), after a white run of `margin`
// pixels, each raster pixel counting `scale` times; the last run is stretched
// or cut so that the runs add up to `width`. Run ends are found 64 pixels at a
// time from the word of colour changes.
void PutRasterRuns(CodeWriter& w, const std::uint8_t* raster, int margin, int limit, int scale, int width) {
  const T4CodeTables& t = T4Codes();
  const int endByte = (limit + 7) >> 3;
  int runStart = 0;  // raster pixel where the current run began
  int pending = margin;
  bool black = false;
  int coded = 0;
  std::uint64_t previous = 0;  // colour of the pixel before the word, in bit 0
  for (int base = 0; base < limit; base += 64) {
    const std::uint64_t word = LoadPixels(raster, base >> 3, endByte);
    std::uint64_t changes = word ^ ((word >> 1) | (previous << 63));
    if (limit - base < 64) changes &= ~(~std::uint64_t{0} >> (limit - base));
    while (changes != 0) {
      const int k = std::countl_zero(changes);
      const int pos = base + k;
      const int run = pending + (pos - runStart) * scale;
      w.Run(run, black, t);
      coded += run;
      pending = 0;
      runStart = pos;
      black = !black;
      changes ^= (std::uint64_t{1} << 63) >> k;
    }
    previous = word & 1;
  }
  w.Run(width - coded, black, t);
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
  // Three bytes hold any code of up to 16 bits at any bit offset. A caller
  // that keeps putting codes past the buffer gets nothing more written.
  if (s.byteOffset < 0 || s.byteOffset + 3 > static_cast<int>(kConverterBufferSize)) return;
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

  CodeWriter w(s);
  if (AllWhite(raster, width / 8)) {
    w.Run(width, false, T4Codes());
  } else {
    // Without double width the line is the margin followed by raster pixels
    // 0 .. width - margin - 1. With double width every raster pixel counts
    // twice; the margin is put once, so the image starts at the same place
    // either way, and the last run absorbs an odd pixel left over.
    const int scale = s.doubleWidth ? 2 : 1;
    PutRasterRuns(w, raster, margin, (width - margin) / scale, scale, width);
  }
  w.Finish();
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
