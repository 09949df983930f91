#include "imaging/tiff_import.h"

#include <cstring>
#include <vector>

#include "imaging/apf.h"
#include "imaging/converter_state.h"
#include "imaging/imaging_errors.h"
#include "imaging/t4_encode.h"
#include "imaging/tiff_reader.h"
#include "imaging/tiff_rows.h"
#include "imaging/tiff_writer.h"
#include "imaging/unpack.h"

namespace veltrane::imaging {
namespace {

constexpr double kHighResMinDpi = 150;  // between 98 (normal) and 196 (fine) lines per inch

int ImportPage(std::span<const uint8_t> bytes, const TiffFile& file, std::size_t index,
               ConverterState& coder, TiffImportResult& result) {
  TiffPage page;
  if (int rc = file.readPage(index, page); rc < 0) return rc;
  if (page.width > static_cast<uint32_t>(kLineWidthWide)) return kErrBadGraphicsFormat;
  TiffRowReader rows;
  if (int rc = rows.Open(bytes, page); rc < 0) return rc;

  coder.lineWidth = page.width > static_cast<uint32_t>(kLineWidthNormal) ? kLineWidthWide : kLineWidthNormal;
  std::uint16_t flags = 0;
  if (page.y_dpi >= kHighResMinDpi) flags |= pfHighRes;
  if (coder.lineWidth == kLineWidthWide) flags |= pfWide;
  coder.writer.SetPageFlags(flags);

  std::vector<uint8_t> raster(kLineWidthWide / 8);
  int rc;
  while ((rc = rows.ReadRow(raster.data())) == 1) {
    EncodeRasterLine(coder, raster.data());
    if (int w = coder.writer.WriteLine(coder.codedLine.data(), static_cast<std::size_t>(coder.byteOffset)); w < 0)
      return w;
  }
  if (rc < 0) return rc;
  result.damagedRows += rows.DamagedRows();
  return coder.writer.EndPage();
}

}  // namespace

int ImportTiffToApf(const std::string& tiffPath, const std::string& apfPath, TiffImportResult* result,
                    std::string_view stationId) {
  TiffImportResult local;
  TiffImportResult& out = result ? *result : local;
  out = {};
  std::vector<uint8_t> bytes;
  if (int rc = ReadTiffFile(tiffPath, bytes); rc < 0) return rc;
  TiffFile file;
  if (int rc = file.parse(bytes); rc < 0) return rc;
  if (file.pageCount() > 0xFFFF) return kErrBadGraphicsFormat;

  // The coder's own settings: no margin, no doubling, every pixel as it is.
  auto coder = std::make_unique<ConverterState>();
  coder->leftMargin = 0;
  coder->flags = 0;
  if (int rc = coder->writer.Open(apfPath); rc < 0) return rc;
  for (std::size_t i = 0; i < file.pageCount(); ++i) {
    if (int rc = ImportPage(bytes, file, i, *coder, out); rc < 0) {
      coder->writer.Abandon();
      return rc;
    }
    ++out.pages;
  }
  return coder->writer.Finish(stationId);
}

int DecodeApfPageRaster(std::span<const std::uint8_t> apf, unsigned pageNumber, ApfPageRaster& out) {
  ApfPageWalker walker;
  if (int rc = walker.Open(apf); rc < 0) return rc;
  ApfPageView view;
  if (int rc = walker.Page(pageNumber, view); rc < 0) return rc;
  out.highRes = view.PageFlags & pfHighRes;
  out.wide = view.PageFlags & pfWide;
  const int width = out.wide ? kLineWidthWide : kLineWidthNormal;

  std::vector<std::vector<uint8_t>> lines;
  auto sink = [&](UnpackerState&, int flags, const std::uint8_t* data, int length) {
    if (flags != kUnpackLine) return 0;
    std::vector<uint8_t> line(static_cast<std::size_t>(width / 8), 0);
    if (data && length > 0) std::memcpy(line.data(), data, std::min<std::size_t>(line.size(), std::size_t(length)));
    lines.push_back(std::move(line));
    return 0;
  };
  std::unique_ptr<UnpackerState> state;
  if (int rc = CreateUnpacker(state, nullptr, sink); rc < 0) return rc;
  ClearUnpackerFlags(*state, ufYield | ufDoubleHeight | ufHalfWidth);
  if (int rc = DecodePage(*state, apf, pageNumber); rc < 0) return rc;

  out.bitmap = MonoBitmap(width, static_cast<int>(lines.size()));
  for (std::size_t y = 0; y < lines.size(); ++y)
    std::memcpy(out.bitmap.Row(static_cast<int>(y)), lines[y].data(), lines[y].size());
  return 0;
}

int ExportApfToTiff(const std::string& apfPath, const std::string& tiffPath, int fillOrder,
                    unsigned* pages) {
  if (pages) *pages = 0;
  std::vector<uint8_t> apf;
  if (int rc = ReadWholeFile(apfPath, apf); rc < 0) return rc;
  ApfPageWalker walker;
  if (int rc = walker.Open(apf); rc < 0) return rc;
  TiffFaxWriter writer(fillOrder);
  for (unsigned n = 1; n <= walker.PageCount(); ++n) {
    ApfPageRaster page;
    if (int rc = DecodeApfPageRaster(apf, n, page); rc < 0) return rc;
    writer.BeginPage(page.bitmap.width, page.highRes);
    for (int y = 0; y < page.bitmap.height; ++y) writer.AddLine(page.bitmap.Row(y));
    writer.EndPage();
  }
  if (int rc = writer.WriteFile(tiffPath); rc < 0) return rc;
  if (pages) *pages = walker.PageCount();
  return 0;
}

}  // namespace veltrane::imaging
