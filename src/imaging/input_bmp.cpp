// The BMP input reader: one-bit BMP files give one page, rows from the top of
// the image (the last row in the file) down. Colour and grey BMPs are dithered
// to a temporary one-bit BMP first.
//
// BMP file header (14 bytes) and BITMAPINFOHEADER (40 bytes), as read here:
//   offset size field
//        0    2 type, "BM" (0x4D42)
//       14    4 size of the information header; the colour table follows it
//       18    4 width (signed)
//       22    4 height (signed)
//       28    2 bits per pixel
//  14 + info  8 colour table of a one-bit bitmap: entry 0, entry 1 (blue green red reserved)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/dither.h"
#include "imaging/imaging_errors.h"
#include "imaging/input_reader.h"

namespace veltrane::imaging {
namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<std::uint32_t>(p[3]) << 24);
}

class BmpInputReader : public InputReader {
 public:
  ~BmpInputReader() override { CloseFile(); }
  std::string DefaultExtension() const override { return "BMP"; }

  int OpenInput(ConverterState& s, const std::string& fileName) override {
    std::string name = fileName;
    std::string dithered;
    if (DitherBmpFile(fileName, dithered)) {
      s.tempDitherFile = dithered;
      name = dithered;
    }
    fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return FileErrorFromErrno(errno);
    int rc = ReadHeaders(s);
    if (rc < 0) CloseFile();
    return rc;
  }

  int ReadLine(ConverterState& s, std::uint8_t* raster, int& length, bool& endOfPage, bool& morePages) override {
    morePages = false;
    if (s.currentLine > height_) {
      endOfPage = true;
      return 0;
    }
    std::uint8_t* row = raster + s.centreOffset;
    std::size_t done = 0;
    while (done < bytesPerRow_) {
      ssize_t got = ::pread(fd_, row + done, bytesPerRow_ - done, static_cast<off_t>(nextRow_ + static_cast<std::int64_t>(done)));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return FileErrorFromErrno(errno);
      if (got == 0) return kErrReadPastEnd;
      done += static_cast<std::size_t>(got);
    }
    s.bytesRead += static_cast<std::uint32_t>(bytesPerRow_);
    if (width_ % 8 != 0) {
      // Pixels past the width become white, whatever the table calls white.
      std::uint8_t pad = static_cast<std::uint8_t>(0xFFu >> (width_ % 8));
      std::uint8_t& last = row[bytesPerRow_ - 1];
      last = zeroIsBlack_ ? (last | pad) : (last & static_cast<std::uint8_t>(~pad));
    }
    if (zeroIsBlack_)
      for (std::size_t i = 0; i < bytesPerRow_; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
    std::fill_n(raster, s.centreOffset, 0);
    nextRow_ -= static_cast<std::int64_t>(paddedBytesPerRow_);
    length = static_cast<int>(bytesPerRow_) + s.centreOffset;
    return 0;
  }

  void CloseInput(ConverterState&) override { CloseFile(); }

 private:
  void CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int ReadExactly(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset));
    if (got < 0) return FileErrorFromErrno(errno);
    return static_cast<std::size_t>(got) == n ? 0 : kErrBadGraphicsFormat;
  }

  int ReadHeaders(ConverterState& s) {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return FileErrorFromErrno(errno);
    const std::int64_t fileSize = st.st_size;
    std::uint8_t h[54];
    if (int rc = ReadExactly(0, h, sizeof h); rc < 0) return rc;
    const std::int32_t width = static_cast<std::int32_t>(U32(h + 18));
    height_ = static_cast<std::int32_t>(U32(h + 22));
    const int bits = h[28] | (h[29] << 8);
    const int W = s.lineWidth;
    const int M = std::clamp(s.leftMargin, 0, W);
    if (h[0] != 'B' || h[1] != 'M' || bits != 1 || width < 0 || width > W) return kErrBadGraphicsFormat;
    // Rows stored top-down would come out as an empty page: refuse them. A
    // width of 0 would let a tiny file claim billions of (empty) rows.
    if (height_ < 0 || (width == 0 && height_ > 0)) return kErrBadGraphicsFormat;
    width_ = width;
    bytesPerRow_ = (static_cast<std::size_t>(width) + 7) / 8;
    paddedBytesPerRow_ = (bytesPerRow_ + 3) & ~std::size_t{3};
    // Rows are read backwards from the end of the file: the header must not
    // claim more rows than the file holds after its headers.
    if (height_ > 0 && static_cast<std::int64_t>(paddedBytesPerRow_) * height_ > fileSize - 54)
      return kErrBadGraphicsFormat;
    zeroIsBlack_ = ColourZeroIsBlack(U32(h + 14), fileSize);

    s.doubleWidth = (s.flags & cfDoubleWidth) && !s.useHighRes && 2 * width <= W - M;
    s.halfHeight = (s.flags & cfHalfHeight) && !s.useHighRes && !s.doubleWidth;
    s.centreOffset = 0;
    if ((s.flags & cfCenterImage) && W - width >= 16)
      s.centreOffset = s.doubleWidth ? (W - 2 * width) / 32 : (W - width) / 16;
    s.bytesToRead = static_cast<std::uint32_t>(bytesPerRow_ * static_cast<std::size_t>(std::max(height_, 0)));
    nextRow_ = fileSize - static_cast<std::int64_t>(paddedBytesPerRow_);
    return 0;
  }

  // One-bit BMPs name their two colours in a table. Most list black first, so a
  // 0 bit is black; many tools list white first, and then a 1 bit is black.
  // Without a readable table, 0 is black.
  bool ColourZeroIsBlack(std::uint32_t infoSize, std::int64_t fileSize) {
    if (infoSize < 40 || static_cast<std::int64_t>(14) + infoSize + 8 > fileSize) return true;
    std::uint8_t table[8];
    if (ReadExactly(14 + infoSize, table, sizeof table) != 0) return true;
    int lum0 = table[0] + table[1] + table[2];
    int lum1 = table[4] + table[5] + table[6];
    return !(lum0 > lum1);
  }

  int fd_ = -1;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::size_t bytesPerRow_ = 0;
  std::size_t paddedBytesPerRow_ = 0;
  std::int64_t nextRow_ = 0;
  bool zeroIsBlack_ = true;
};

}  // namespace

std::unique_ptr<InputReader> MakeBmpInputReader() { return std::make_unique<BmpInputReader>(); }

}  // namespace veltrane::imaging
