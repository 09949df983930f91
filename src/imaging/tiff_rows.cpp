#include "imaging/tiff_rows.h"

#include <cstring>

namespace veltrane::imaging {

int TiffRowReader::Open(std::span<const uint8_t> file, const TiffPage& page, unsigned kinds) {
  file_ = file;
  page_ = page;
  strip_ = 0;
  rows_left_in_strip_ = 0;
  rows_read_ = 0;
  started_ = false;
  g3_.reset();
  g3_damaged_ = 0;
  literal_left_ = repeat_left_ = 0;
  if (page.bits_per_sample != 1 || page.samples_per_pixel != 1 || page.photometric > 1)
    return kErrBadGraphicsFormat;
  switch (page.compression) {
    case kCompressionNone:
      if (!(kinds & kRowsUncompressed)) return kErrBadGraphicsFormat;
      break;
    case kCompressionPackBits:
      if (!(kinds & kRowsPackBits)) return kErrBadGraphicsFormat;
      break;
    case kCompressionG3:
      if (!(kinds & kRowsG3) || (page.t4_options & (kT4Options2D | kT4OptionsUncompressed)))
        return kErrBadGraphicsFormat;
      break;
    case kCompressionMhRows:
      if (!(kinds & kRowsG3)) return kErrBadGraphicsFormat;
      break;
    default:
      return kErrBadGraphicsFormat;
  }
  return 0;
}

// Moves to the next strip that has rows; false after the last one.
bool TiffRowReader::StartStrip() {
  if (started_) ++strip_;
  started_ = true;
  for (; strip_ < page_.strip_offsets.size(); ++strip_) {
    rows_left_in_strip_ = page_.rowsInStrip(strip_);
    if (rows_left_in_strip_ == 0) continue;
    // TiffFile::readPage has checked that every strip lies inside the file.
    strip_data_ = file_.subspan(page_.strip_offsets[strip_], page_.strip_byte_counts[strip_]);
    strip_pos_ = 0;
    literal_left_ = repeat_left_ = 0;
    if (IsMh()) {
      if (g3_) g3_damaged_ += g3_->DamagedRows();
      g3_ = std::make_unique<G3RowDecoder>(strip_data_, page_.fill_order == 2);
    }
    return true;
  }
  return false;
}

int TiffRowReader::ReadRow(uint8_t* row) {
  if (rows_read_ >= page_.length) return 0;
  if (rows_left_in_strip_ == 0 && !StartStrip()) return 0;
  int rc = 0;
  switch (page_.compression) {
    case kCompressionNone: rc = ReadUncompressed(row); break;
    case kCompressionPackBits: rc = ReadPackBits(row); break;
    default:
      // A G3 strip whose data ends before its rows ends the page: reading on
      // would only invent white rows for a header that may claim millions.
      if (!ReadG3(row)) {
        rows_read_ = page_.length;
        return 0;
      }
      break;
  }
  if (rc < 0) return rc;
  Finish(row);
  --rows_left_in_strip_;
  ++rows_read_;
  return 1;
}

int TiffRowReader::ReadUncompressed(uint8_t* row) {
  const uint32_t n = page_.bytesPerRow();
  if (strip_data_.size() - strip_pos_ < n) return kErrBadGraphicsFormat;
  std::memcpy(row, strip_data_.data() + strip_pos_, n);
  strip_pos_ += n;
  return 0;
}

int TiffRowReader::ReadPackBits(uint8_t* row) {
  const uint32_t n = page_.bytesPerRow();
  uint32_t filled = 0;
  while (filled < n) {
    if (literal_left_ > 0) {
      if (strip_pos_ >= strip_data_.size()) return kErrBadGraphicsFormat;
      row[filled++] = strip_data_[strip_pos_++];
      --literal_left_;
    } else if (repeat_left_ > 0) {
      row[filled++] = repeat_byte_;
      --repeat_left_;
    } else {
      if (strip_pos_ >= strip_data_.size()) return kErrBadGraphicsFormat;
      const int8_t header = int8_t(strip_data_[strip_pos_++]);
      if (header >= 0) {
        literal_left_ = header + 1;
      } else if (header != -128) {
        if (strip_pos_ >= strip_data_.size()) return kErrBadGraphicsFormat;
        repeat_byte_ = strip_data_[strip_pos_++];
        repeat_left_ = 1 - header;
      }
    }
  }
  return 0;
}

bool TiffRowReader::ReadG3(uint8_t* row) {
  const bool found = g3_->DecodeRow(row, page_.width);
  if (page_.compression == kCompressionMhRows) g3_->AlignToByte();
  return found;
}

// Brings a row into raster-line form: first pixel in bit 7, 1 = black, and
// the bits past the width cleared.
void TiffRowReader::Finish(uint8_t* row) const {
  const uint32_t n = page_.bytesPerRow();
  // The MH decoder already paints in raster order with 1 = black.
  if (!IsMh() && page_.fill_order == 2)
    for (uint32_t i = 0; i < n; ++i) row[i] = ReverseBitOrder(row[i]);
  // Photometric 1 means a 0 sample is black. For G3 the decoder paints black
  // runs as 1 bits, which then stand for white like any other 1 sample.
  if (page_.photometric == 1)
    for (uint32_t i = 0; i < n; ++i) row[i] = uint8_t(~row[i]);
  if (const uint32_t tail = page_.width % 8; tail != 0) row[n - 1] &= uint8_t(0xFF00 >> tail);
}

std::vector<uint8_t> PackBitsEncode(std::span<const uint8_t> raw) {
  std::vector<uint8_t> out;
  std::size_t i = 0;
  while (i < raw.size()) {
    std::size_t run = 1;
    while (i + run < raw.size() && run < 128 && raw[i + run] == raw[i]) ++run;
    if (run >= 2) {
      out.push_back(uint8_t(int8_t(1 - int(run))));
      out.push_back(raw[i]);
      i += run;
      continue;
    }
    // Literal bytes up to the next pair of equal bytes.
    std::size_t len = 1;
    while (i + len < raw.size() && len < 128 &&
           !(i + len + 1 < raw.size() && raw[i + len] == raw[i + len + 1]))
      ++len;
    out.push_back(uint8_t(len - 1));
    out.insert(out.end(), raw.begin() + i, raw.begin() + i + len);
    i += len;
  }
  return out;
}

bool PackBitsDecode(std::span<const uint8_t> packed, std::vector<uint8_t>& out, std::size_t max_out) {
  out.clear();
  std::size_t i = 0;
  while (i < packed.size()) {
    const int8_t header = int8_t(packed[i++]);
    if (header == -128) continue;
    const std::size_t count = header >= 0 ? std::size_t(header) + 1 : std::size_t(1 - header);
    if (out.size() + count > max_out) return false;
    if (header >= 0) {
      if (packed.size() - i < count) return false;
      out.insert(out.end(), packed.begin() + i, packed.begin() + i + count);
      i += count;
    } else {
      if (i >= packed.size()) return false;
      out.insert(out.end(), count, packed[i++]);
    }
  }
  return true;
}

}  // namespace veltrane::imaging
