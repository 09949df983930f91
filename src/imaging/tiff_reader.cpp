#include "imaging/tiff_reader.h"

#include "imaging/apf.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace veltrane::imaging {
namespace {

std::size_t typeSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;   // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                   // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: return 8;         // RATIONAL, SRATIONAL, DOUBLE
    default: return 0;                          // unknown types are skipped
  }
}

}  // namespace

uint32_t TiffPage::rowsInStrip(std::size_t strip) const {
  uint64_t first = uint64_t(strip) * rows_per_strip;
  if (first >= length) return 0;
  uint64_t left = length - first;
  return uint32_t(left < rows_per_strip ? left : rows_per_strip);
}

uint16_t TiffFile::u16(std::size_t pos) const {
  const uint8_t* p = bytes_.data() + pos;
  return big_endian_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

uint32_t TiffFile::u32(std::size_t pos) const {
  const uint8_t* p = bytes_.data() + pos;
  return big_endian_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

int TiffFile::parse(std::span<const uint8_t> bytes) {
  bytes_ = bytes;
  ifds_.clear();
  if (bytes.size() < 8 || bytes.size() > kTiffMaxFileSize) return kErrBadGraphicsFormat;
  if (bytes[0] == 'I' && bytes[1] == 'I') big_endian_ = false;
  else if (bytes[0] == 'M' && bytes[1] == 'M') big_endian_ = true;
  else return kErrBadGraphicsFormat;
  if (u16(2) != 42) return kErrBadGraphicsFormat;

  std::set<uint32_t> seen;  // a chain that loops back is corrupt, not endless
  uint32_t offset = u32(4);
  do {
    uint16_t count = 0;
    uint32_t next = 0;
    if (ifds_.size() >= kTiffMaxPages || !seen.insert(offset).second ||
        ifdBounds(offset, count, next) < 0) {
      ifds_.clear();
      return kErrBadGraphicsFormat;
    }
    ifds_.push_back(offset);
    offset = next;
  } while (offset != 0);
  return 0;
}

int TiffFile::ifdBounds(uint32_t offset, uint16_t& count, uint32_t& next) const {
  if (offset < 8 || uint64_t(offset) + 2 > bytes_.size()) return kErrBadGraphicsFormat;
  count = u16(offset);
  if (count == 0 || uint64_t(offset) + 2 + 12ull * count + 4 > bytes_.size()) return kErrBadGraphicsFormat;
  next = u32(offset + 2 + 12u * count);
  return 0;
}

int TiffFile::parseEntries(uint32_t offset, Entries& entries) const {
  uint16_t n = 0;
  uint32_t next = 0;
  if (int rc = ifdBounds(offset, n, next); rc < 0) return rc;
  entries.clear();
  entries.reserve(n);
  for (uint16_t i = 0; i < n; ++i) {
    const std::size_t at = offset + 2 + 12u * i;
    Entry e{u16(at), u16(at + 2), u32(at + 4), at + 8};
    const std::size_t unit = typeSize(e.type);
    if (unit == 0) continue;
    const uint64_t total = uint64_t(e.count) * unit;
    if (total > 4) {
      const uint32_t pos = u32(at + 8);
      if (uint64_t(pos) + total > bytes_.size()) return kErrBadGraphicsFormat;
      e.value_pos = pos;
    }
    entries.push_back(e);
  }
  return 0;
}

const TiffFile::Entry* TiffFile::find(const Entries& entries, uint16_t tag) {
  for (const Entry& e : entries)
    if (e.tag == tag) return &e;
  return nullptr;
}

bool TiffFile::readUInt(const Entry& e, uint32_t index, uint32_t& out) const {
  if (index >= e.count) return false;
  switch (e.type) {
    case kTypeByte: out = bytes_[e.value_pos + index]; return true;
    case kTypeShort: out = u16(e.value_pos + 2ull * index); return true;
    case kTypeLong: out = u32(e.value_pos + 4ull * index); return true;
    default: return false;
  }
}

// A single unsigned value; `present` tells whether the tag was there at all.
bool TiffFile::readSingle(const Entries& entries, uint16_t tag, uint32_t& out, bool& present) const {
  const Entry* e = find(entries, tag);
  present = e != nullptr;
  if (!e) return true;
  return readUInt(*e, 0, out);
}

bool TiffFile::readArray(const Entries& entries, uint16_t tag, std::vector<uint32_t>& out) const {
  out.clear();
  const Entry* e = find(entries, tag);
  if (!e || e->count == 0) return false;
  out.resize(e->count);  // bounded: parseIfd checked every value lies in the file
  for (uint32_t i = 0; i < e->count; ++i)
    if (!readUInt(*e, i, out[i])) return false;
  return true;
}

double TiffFile::readRational(const Entries& entries, uint16_t tag) const {
  const Entry* e = find(entries, tag);
  if (!e || e->count == 0) return 0;
  if (e->type == kTypeRational) {
    const uint32_t num = u32(e->value_pos), den = u32(e->value_pos + 4);
    return den == 0 ? 0 : double(num) / den;
  }
  uint32_t v = 0;
  return readUInt(*e, 0, v) ? double(v) : 0;
}

int TiffFile::readPage(std::size_t index, TiffPage& page) const {
  if (index >= ifds_.size()) return kErrBadGraphicsFormat;
  page = TiffPage{};
  Entries entries;
  if (int rc = parseEntries(ifds_[index], entries); rc < 0) return rc;
  struct Field {
    uint16_t tag;
    uint32_t* target;
    bool required;
  };
  uint32_t width = 0, length = 0, bps = 1, spp = 1, compression = 1, photometric = 0,
           fill = 1, rps = UINT32_MAX, unit = 2;
  const Field fields[] = {
      {kTagImageWidth, &width, true},          {kTagImageLength, &length, true},
      {kTagBitsPerSample, &bps, false},        {kTagSamplesPerPixel, &spp, false},
      {kTagCompression, &compression, false},  {kTagPhotometric, &photometric, false},
      {kTagFillOrder, &fill, false},           {kTagRowsPerStrip, &rps, false},
      {kTagT4Options, &page.t4_options, false}, {kTagResolutionUnit, &unit, false},
  };
  for (const Field& f : fields) {
    bool present = false;
    if (!readSingle(entries, f.tag, *f.target, present)) return kErrBadGraphicsFormat;
    if (f.required && !present) return kErrBadGraphicsFormat;
  }
  if (width == 0 || bps > 0xFFFF || spp > 0xFFFF || compression > 0xFFFF || photometric > 0xFFFF)
    return kErrBadGraphicsFormat;
  page.width = width;
  page.length = length;
  page.bits_per_sample = uint16_t(bps);
  page.samples_per_pixel = uint16_t(spp);
  page.compression = uint16_t(compression);
  page.photometric = uint16_t(photometric);
  page.fill_order = fill == 2 ? 2 : 1;
  page.rows_per_strip = rps == 0 || rps > length ? length : rps;

  const double dpi = readRational(entries, kTagYResolution);
  page.y_dpi = unit == 3 ? dpi * 2.54 : dpi;

  if (!readArray(entries, kTagStripOffsets, page.strip_offsets)) return kErrBadGraphicsFormat;
  const std::size_t strips =
      page.rows_per_strip == 0 ? 0 : (uint64_t(length) + page.rows_per_strip - 1) / page.rows_per_strip;
  if (page.strip_offsets.size() < strips) return kErrBadGraphicsFormat;

  const std::size_t size = bytes_.size();
  if (!readArray(entries, kTagStripByteCounts, page.strip_byte_counts)) {
    // Writers may leave the counts out of an uncompressed single-strip page;
    // the strip then reaches as far as its rows need.
    if (compression != kCompressionNone || strips > 1) return kErrBadGraphicsFormat;
    page.strip_byte_counts.assign(
        page.strip_offsets.size(),
        uint32_t(std::min<uint64_t>(uint64_t(page.bytesPerRow()) * length, UINT32_MAX)));
  }
  if (page.strip_byte_counts.size() < strips) return kErrBadGraphicsFormat;
  for (std::size_t s = 0; s < strips; ++s)
    if (uint64_t(page.strip_offsets[s]) + page.strip_byte_counts[s] > size) return kErrBadGraphicsFormat;
  page.strip_offsets.resize(strips);
  page.strip_byte_counts.resize(strips);
  return 0;
}

int ReadTiffFile(const std::string& path, std::vector<uint8_t>& out) {
  out.clear();
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ec && size > kTiffMaxFileSize) return kErrBadGraphicsFormat;
  return ReadWholeFile(path, out);  // reports a missing or unreadable file
}

}  // namespace veltrane::imaging
