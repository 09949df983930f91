// Reading the rows of one bilevel TIFF page, strip after strip: uncompressed,
// PackBits, or one-dimensional MH data (G3 with EOLs, or Compression 2 rows). Rows come out as raster lines:
// most significant bit first, 1 = black, whatever the file's fill order and
// photometric interpretation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "imaging/tiff_g3.h"
#include "imaging/tiff_reader.h"

namespace veltrane::imaging {

// Which compressions a caller accepts.
enum TiffRowKinds : unsigned {
  kRowsUncompressed = 1,
  kRowsPackBits = 2,
  kRowsG3 = 4,
  kRowsAll = 7,
};

class TiffRowReader {
 public:
  // kErrBadGraphicsFormat unless the page is one bit per pixel, has a photometric
  // interpretation of 0 or 1, and a compression among `kinds` (kRowsG3 takes
  // G3 without 2-D coding and TIFF's Compression 2, MH rows without EOLs).
  int Open(std::span<const uint8_t> file, const TiffPage& page, unsigned kinds = kRowsAll);

  // Next row into `row` (page.bytesPerRow() bytes; bits past the width are 0).
  // 1 = a row, 0 = no more rows, kErrBadGraphicsFormat when uncompressed or
  // PackBits data ends early. G3 pages end quietly where their data ends.
  int ReadRow(uint8_t* row);

  uint32_t RowsRead() const { return rows_read_; }
  uint32_t DamagedRows() const { return g3_ ? g3_damaged_ + g3_->DamagedRows() : 0; }

 private:
  bool IsMh() const { return page_.compression == kCompressionG3 || page_.compression == kCompressionMhRows; }
  bool StartStrip();
  int ReadUncompressed(uint8_t* row);
  int ReadPackBits(uint8_t* row);
  bool ReadG3(uint8_t* row);
  void Finish(uint8_t* row) const;

  std::span<const uint8_t> file_;
  TiffPage page_;
  std::size_t strip_ = 0;             // strip being read
  uint32_t rows_left_in_strip_ = 0;
  std::span<const uint8_t> strip_data_;
  std::size_t strip_pos_ = 0;
  // PackBits run carried across rows: literal bytes left, or repeats of repeat_byte_.
  int literal_left_ = 0;
  int repeat_left_ = 0;
  uint8_t repeat_byte_ = 0;
  std::unique_ptr<G3RowDecoder> g3_;
  uint32_t g3_damaged_ = 0;           // from strips already finished
  uint32_t rows_read_ = 0;
  bool started_ = false;
};

// PackBits: n = 0..127 copies the next n + 1 bytes, n = -127..-1 repeats the
// next byte 1 - n times, -128 does nothing. Encodes and decodes whole buffers.
std::vector<uint8_t> PackBitsEncode(std::span<const uint8_t> raw);
// False when the data ends inside a run or holds more than max_out bytes.
bool PackBitsDecode(std::span<const uint8_t> packed, std::vector<uint8_t>& out, std::size_t max_out);

}  // namespace veltrane::imaging
