// Decoding one-dimensional (Modified Huffman) G3 data as TIFF stores it:
// each row normally starts with an EOL, optionally preceded by zero fill bits,
// and the bits of each byte are taken from bit 7 down (FillOrder 1) or from
// bit 0 up (FillOrder 2, the order fax modems and APF pages use).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrane::imaging {

class G3RowDecoder {
 public:
  G3RowDecoder(std::span<const uint8_t> data, bool lsb_first);

  // Decodes the next row of `width` pixels into `row` ((width + 7) / 8 bytes,
  // most significant bit first, 1 = black; cleared first). Returns true when
  // a row was found, false when the data ended before any code of a row.
  // Damaged rows never fail: a bad code leaves the rest of its row white and
  // decoding picks up again at the next EOL, a row that runs past the width
  // is cut, and an EOL met too early ends its row.
  bool DecodeRow(uint8_t* row, uint32_t width);

  // Moves on to the next byte boundary: rows of TIFF's Compression 2 (MH
  // without EOLs) each start on a new byte.
  void AlignToByte() { pos_ = (pos_ + 7) & ~std::size_t{7}; }

  // Rows in which a bad code or a wrong length was found.
  uint32_t DamagedRows() const { return damaged_rows_; }

 private:
  int Bit(std::size_t pos) const;
  bool AtEnd() const { return pos_ >= total_bits_; }
  std::size_t ZerosAt(std::size_t pos) const;
  bool SkipEols();
  void SkipToEol();
  int NextCode(int colour, bool& eol);

  std::span<const uint8_t> data_;
  bool lsb_first_;
  std::size_t pos_ = 0;
  std::size_t total_bits_;
  uint32_t damaged_rows_ = 0;
};

}  // namespace veltrane::imaging
