// PCX and DCX input readers. A PCX file is one page; a DCX file is a table of
// PCX pages. Only one-bit, one-plane, run-length coded pages are read.
//
// PCX header (128 bytes):
//   offset size field
//        0    1 manufacturer, 10
//        1    1 version
//        2    1 encoding, 1 = run-length
//        3    1 bits per pixel per plane, 1
//        4    8 xmin, ymin, xmax, ymax (u16 each, inclusive)
//       65    1 planes, 1
//       66    2 bytes per line of a plane (even, at least ceil(width / 8))
// Run-length data follows: a byte >= 0xC0 repeats the next byte (byte & 0x3F)
// times, any other byte stands for itself. A 1 bit is white.
//
// DCX header: u32 987654321, then up to 1023 u32 file offsets of PCX pages,
// ended by 0 (or by the first page's offset).
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "imaging/apf.h"
#include "imaging/imaging_errors.h"
#include "imaging/input_reader.h"

namespace veltrane::imaging {
namespace {

constexpr std::size_t kPcxHeaderSize = 128;
constexpr std::uint32_t kDcxMagic = 987654321;
constexpr std::size_t kDcxMaxPages = 1023;
// Fax pages are far smaller; this only keeps a hostile file from filling memory.
constexpr std::uint64_t kMaxPcxFileSize = 64u << 20;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<std::uint32_t>(p[3]) << 24);
}

int LoadFile(const std::string& name, std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  auto size = std::filesystem::file_size(name, ec);
  if (!ec && size > kMaxPcxFileSize) return kErrBadGraphicsFormat;
  return ReadWholeFile(name, bytes);
}

// Decodes the pages of a PCX image held in `file` between `begin` and `end`.
class PcxPage {
 public:
  int Open(ConverterState& s, std::span<const std::uint8_t> file, std::size_t begin, std::size_t end) {
    if (begin > end || end > file.size() || end - begin < kPcxHeaderSize) return kErrBadGraphicsFormat;
    const std::uint8_t* h = file.data() + begin;
    const int xmin = U16(h + 4), ymin = U16(h + 6), xmax = U16(h + 8), ymax = U16(h + 10);
    const int width = xmax - xmin + 1;
    height_ = ymax - ymin + 1;
    bytesPerLine_ = U16(h + 66);
    const int W = s.lineWidth;
    const int M = std::clamp(s.leftMargin, 0, W);
    if (h[0] != 10 || h[2] != 1 || h[3] != 1 || h[65] != 1) return kErrBadGraphicsFormat;
    if (width <= 0 || height_ <= 0 || width > W) return kErrBadGraphicsFormat;
    width_ = width;
    bytesPerRow_ = (static_cast<std::size_t>(width) + 7) / 8;
    if (bytesPerLine_ < bytesPerRow_) return kErrBadGraphicsFormat;
    data_ = file.subspan(begin + kPcxHeaderSize, end - begin - kPcxHeaderSize);
    pos_ = 0;
    row_ = 0;
    repeat_ = 0;
    line_.assign(bytesPerLine_, 0);

    s.doubleWidth = (s.flags & cfDoubleWidth) && !s.useHighRes && 2 * width <= W - M;
    s.halfHeight = (s.flags & cfHalfHeight) && !s.useHighRes && !s.doubleWidth;
    s.centreOffset = 0;
    if ((s.flags & cfCenterImage) && W - width >= 16)
      s.centreOffset = s.doubleWidth ? (W - 2 * width) / 32 : (W - width) / 16;
    s.bytesToRead += static_cast<std::uint32_t>(data_.size());
    return 0;
  }

  bool Done() const { return row_ >= height_; }

  // Next row into raster (1 = black). Data that ends inside the image is an error.
  int ReadRow(ConverterState& s, std::uint8_t* raster, int& length) {
    std::size_t before = pos_;
    for (std::size_t i = 0; i < bytesPerLine_; ++i) {
      if (repeat_ == 0) {
        if (pos_ >= data_.size()) return kErrBadGraphicsFormat;
        std::uint8_t b = data_[pos_++];
        if (b >= 0xC0) {
          if (pos_ >= data_.size()) return kErrBadGraphicsFormat;
          repeat_ = b & 0x3F;
          value_ = data_[pos_++];
          if (repeat_ == 0) {  // a run of nothing
            --i;
            continue;
          }
        } else {
          repeat_ = 1;
          value_ = b;
        }
      }
      line_[i] = value_;
      --repeat_;
    }
    s.bytesRead += static_cast<std::uint32_t>(pos_ - before);
    std::uint8_t* out = raster + s.centreOffset;
    for (std::size_t i = 0; i < bytesPerRow_; ++i) out[i] = static_cast<std::uint8_t>(~line_[i]);
    if (width_ % 8) out[bytesPerRow_ - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width_ % 8));
    ++row_;
    length = static_cast<int>(bytesPerRow_) + s.centreOffset;
    return 0;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  int width_ = 0;
  int height_ = 0;
  int row_ = 0;
  std::size_t bytesPerLine_ = 0;
  std::size_t bytesPerRow_ = 0;
  int repeat_ = 0;  // runs may go on into the next row
  std::uint8_t value_ = 0;
  std::vector<std::uint8_t> line_;
};

// One reader for both kinds: PCX is a DCX of one page at offset 0.
class PcxInputReader : public InputReader {
 public:
  explicit PcxInputReader(bool dcx) : dcx_(dcx) {}
  std::string DefaultExtension() const override { return dcx_ ? "DCX" : "PCX"; }

  int OpenInput(ConverterState& s, const std::string& fileName) override {
    if (int rc = LoadFile(fileName, file_); rc < 0) return rc;
    pages_.clear();
    if (dcx_) {
      if (int rc = ReadDcxTable(); rc < 0) return rc;
    } else {
      pages_.push_back({0, file_.size()});
    }
    s.bytesToRead = 0;
    page_ = 0;
    return page_data_.Open(s, file_, pages_[0].first, pages_[0].second);
  }

  int ReadLine(ConverterState& s, std::uint8_t* raster, int& length, bool& endOfPage, bool& morePages) override {
    if (needOpen_) {
      needOpen_ = false;
      if (int rc = page_data_.Open(s, file_, pages_[page_].first, pages_[page_].second); rc < 0) return rc;
    }
    if (page_data_.Done()) {
      endOfPage = true;
      morePages = page_ + 1 < pages_.size();
      if (morePages) {
        ++page_;
        needOpen_ = true;
      }
      return 0;
    }
    return page_data_.ReadRow(s, raster, length);
  }

  void CloseInput(ConverterState&) override {
    file_.clear();
    file_.shrink_to_fit();
  }

 private:
  // Page i runs from its offset to the next page's offset (or the file end).
  int ReadDcxTable() {
    if (file_.size() < 8 || U32(file_.data()) != kDcxMagic) return kErrBadGraphicsFormat;
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < kDcxMaxPages; ++i) {
      std::size_t at = 4 + 4 * i;
      if (at + 4 > file_.size()) break;
      std::uint32_t off = U32(file_.data() + at);
      if (off == 0) break;
      if (!offsets.empty() && at >= offsets.front()) break;  // the table ends where the first page starts
      if (off < 8 || off >= file_.size()) return kErrBadGraphicsFormat;
      offsets.push_back(off);
    }
    if (offsets.empty()) return kErrBadGraphicsFormat;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      std::size_t end = file_.size();
      for (std::size_t o : offsets)
        if (o > offsets[i]) end = std::min(end, o);
      pages_.push_back({offsets[i], end});
    }
    return 0;
  }

  bool dcx_;
  std::vector<std::uint8_t> file_;
  std::vector<std::pair<std::size_t, std::size_t>> pages_;
  std::size_t page_ = 0;
  bool needOpen_ = false;
  PcxPage page_data_;
};

}  // namespace

std::unique_ptr<InputReader> MakePcxInputReader() { return std::make_unique<PcxInputReader>(false); }
std::unique_ptr<InputReader> MakeDcxInputReader() { return std::make_unique<PcxInputReader>(true); }

}  // namespace veltrane::imaging
