// Reading TIFF files: the container (header and IFD chain) and the tags a
// bilevel fax page needs. Everything is read from an in-memory copy of the
// file, and every offset and count is checked against its size before use.
//
// File header (8 bytes, offset 0):
//   0  2  byte order: "II" little-endian, "MM" big-endian
//   2  2  42
//   4  4  offset of the first IFD
//
// IFD (image file directory), one per page:
//   0        2    entry count n (at least 1)
//   2        12n  entries, each:
//                   0 2 tag   2 2 field type   4 4 value count
//                   8 4 the value itself when count * size(type) <= 4 bytes
//                       (left-justified), else the offset of the values
//   2 + 12n  4    offset of the next IFD, 0 after the last page
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/imaging_errors.h"

namespace veltrane::imaging {

// Guards against hostile files: a directory chain longer than this is refused,
// and so is a file larger than kTiffMaxFileSize.
inline constexpr std::size_t kTiffMaxPages = 10000;
inline constexpr std::size_t kTiffMaxFileSize = 256u << 20;

enum TiffTag : uint16_t {
  kTagNewSubfileType = 254,
  kTagImageWidth = 256,
  kTagImageLength = 257,
  kTagBitsPerSample = 258,
  kTagCompression = 259,
  kTagPhotometric = 262,
  kTagFillOrder = 266,
  kTagStripOffsets = 273,
  kTagSamplesPerPixel = 277,
  kTagRowsPerStrip = 278,
  kTagStripByteCounts = 279,
  kTagXResolution = 282,
  kTagYResolution = 283,
  kTagT4Options = 292,
  kTagResolutionUnit = 296,
  kTagPageNumber = 297,
  kTagSoftware = 305,
};

enum TiffFieldType : uint16_t {
  kTypeByte = 1,
  kTypeAscii = 2,
  kTypeShort = 3,
  kTypeLong = 4,
  kTypeRational = 5,
};

inline constexpr uint16_t kCompressionNone = 1;
inline constexpr uint16_t kCompressionMhRows = 2;  // MH without EOLs, every row byte-aligned
inline constexpr uint16_t kCompressionG3 = 3;
inline constexpr uint16_t kCompressionPackBits = 32773;
inline constexpr uint32_t kT4Options2D = 1;           // 2-D coding may occur
inline constexpr uint32_t kT4OptionsUncompressed = 2;  // uncompressed mode may occur
inline constexpr uint32_t kT4OptionsFillBits = 4;      // EOLs end on a byte boundary

// One page as the fax readers need it; defaults are TIFF's own.
struct TiffPage {
  uint32_t width = 0;
  uint32_t length = 0;
  uint16_t bits_per_sample = 1;
  uint16_t samples_per_pixel = 1;
  uint16_t compression = kCompressionNone;
  uint16_t photometric = 0;  // 0 = a 0 bit is white, 1 = a 0 bit is black
  uint16_t fill_order = 1;   // 1 = first pixel in bit 7, 2 = in bit 0
  uint32_t t4_options = 0;
  uint32_t rows_per_strip = 0;  // clamped to length
  std::vector<uint32_t> strip_offsets;
  std::vector<uint32_t> strip_byte_counts;  // one per strip, each inside the file
  double y_dpi = 0;  // vertical resolution in lines per inch, 0 when not given

  uint32_t bytesPerRow() const { return (width + 7) / 8; }
  uint32_t rowsInStrip(std::size_t strip) const;
};

class TiffFile {
 public:
  // Checks the header and walks the whole IFD chain, each IFD inside the file.
  // 0 or kErrBadGraphicsFormat. The entries of a page are read (and their
  // values checked) only by readPage, so memory stays proportional to the
  // page count even when IFDs overlap. The bytes are borrowed and must
  // outlive this object.
  int parse(std::span<const uint8_t> bytes);

  std::size_t pageCount() const { return ifds_.size(); }
  std::span<const uint8_t> bytes() const { return bytes_; }

  // Reads page `index` (0-based). Width, length and strip offsets are
  // required; every strip must lie inside the file. 0 or kErrBadGraphicsFormat.
  int readPage(std::size_t index, TiffPage& page) const;

 private:
  struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::size_t value_pos;  // where the values start in the file
  };
  using Entries = std::vector<Entry>;
  int ifdBounds(uint32_t offset, uint16_t& count, uint32_t& next) const;
  int parseEntries(uint32_t offset, Entries& entries) const;
  static const Entry* find(const Entries& entries, uint16_t tag);
  bool readUInt(const Entry& e, uint32_t index, uint32_t& out) const;
  bool readSingle(const Entries& entries, uint16_t tag, uint32_t& out, bool& present) const;
  bool readArray(const Entries& entries, uint16_t tag, std::vector<uint32_t>& out) const;
  double readRational(const Entries& entries, uint16_t tag) const;
  uint16_t u16(std::size_t pos) const;
  uint32_t u32(std::size_t pos) const;

  std::span<const uint8_t> bytes_;
  bool big_endian_ = false;
  std::vector<uint32_t> ifds_;  // offset of each page's IFD
};

// Mirrors the bits of a byte: FillOrder 2 data and our fax order (first bit in
// bit 0) to FillOrder 1, and back.
inline uint8_t ReverseBitOrder(uint8_t b) {
  b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Reads a TIFF file into memory; files over kTiffMaxFileSize are refused with
// kErrBadGraphicsFormat before anything is read. Other errors are file errors.
int ReadTiffFile(const std::string& path, std::vector<uint8_t>& out);

}  // namespace veltrane::imaging
