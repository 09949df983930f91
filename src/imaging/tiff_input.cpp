#include "imaging/tiff_input.h"

#include <cstring>
#include <vector>

#include "imaging/tiff_reader.h"
#include "imaging/tiff_rows.h"

namespace veltrane::imaging {
namespace {

class TiffInputReader final : public InputReader {
 public:
  std::string DefaultExtension() const override { return "TIF"; }

  int OpenInput(ConverterState& state, const std::string& fileName) override {
    if (int rc = ReadTiffFile(fileName, bytes_); rc < 0) return rc;
    if (int rc = file_.parse(bytes_); rc < 0) return rc;
    if (int rc = file_.readPage(0, page_); rc < 0) return rc;
    if (int rc = rows_.Open(bytes_, page_, kRowsUncompressed | kRowsPackBits); rc < 0) return rc;
    const int w = static_cast<int>(page_.width);
    const int lineWidth = state.lineWidth, margin = state.leftMargin;
    if (page_.width > static_cast<uint32_t>(lineWidth)) return kErrBadGraphicsFormat;

    // The same geometry as for a bitmap: small images may be doubled in
    // width (or halved in height) at normal resolution, and centred.
    state.doubleWidth = (state.flags & cfDoubleWidth) && !state.useHighRes && 2 * w <= lineWidth - margin;
    state.halfHeight = (state.flags & cfHalfHeight) && !state.useHighRes && !state.doubleWidth;
    state.centreOffset = 0;
    if ((state.flags & cfCenterImage) && lineWidth - w >= 16)
      state.centreOffset = state.doubleWidth ? (lineWidth - 2 * w) / 32 : (lineWidth - w) / 16;
    state.bytesToRead = page_.bytesPerRow() * page_.length;
    return 0;
  }

  int ReadLine(ConverterState& state, std::uint8_t* raster, int& length, bool& endOfPage,
               bool& morePages) override {
    morePages = false;  // the converter takes the first page only
    row_.resize(page_.bytesPerRow());
    const int rc = rows_.ReadRow(row_.data());
    if (rc < 0) return rc;
    if (rc == 0) {
      endOfPage = true;
      return 0;
    }
    const int n = static_cast<int>(row_.size());
    std::memset(raster, 0, static_cast<std::size_t>(state.centreOffset));
    std::memcpy(raster + state.centreOffset, row_.data(), row_.size());
    state.bytesRead += static_cast<std::uint32_t>(n);
    length = n + state.centreOffset;
    return 0;
  }

  void CloseInput(ConverterState&) override {
    bytes_.clear();
    bytes_.shrink_to_fit();
  }

 private:
  std::vector<uint8_t> bytes_;
  TiffFile file_;
  TiffPage page_;
  TiffRowReader rows_;
  std::vector<uint8_t> row_;
};

}  // namespace

std::unique_ptr<InputReader> MakeTiffInputReader() { return std::make_unique<TiffInputReader>(); }

}  // namespace veltrane::imaging
