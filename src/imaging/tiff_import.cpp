#include "imaging/tiff_import.h"

#include <cstring>
#include <vector>

#include "imaging/apf.h"
#include "imaging/converter_state.h"
#include "imaging/imaging_errors.h"
#include "imaging/t4_encode.h"
#include "imaging/tiff_reader.h"
#include "imaging/tiff_rows.h"
#include "imaging/unpack.h"

namespace veltrane::imaging {
namespace {

constexpr double kHighResMinDpi = 150;  // between 98 (normal) and 196 (fine) lines per inch

int ImportPage(std::span<const uint8_t> bytes, const TiffFile& file, std::size_t index,
               ConverterState& coder, TiffImportResult& result) {
  TiffPage page;
  if (int rc = file.readPage(index, page); rc < 0) return rc;
  // Longer pages could be written but never viewed or printed in full.
  if (page.width > static_cast<uint32_t>(kLineWidthWide) || page.length > static_cast<uint32_t>(kMaxLinesPerPage))
    return kErrBadGraphicsFormat;
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
  if (result) *result = {};
  std::vector<uint8_t> bytes;
  if (int rc = ReadTiffFile(tiffPath, bytes); rc < 0) return rc;
  return ImportTiffBytesToApf(bytes, apfPath, result, stationId);
}

int ImportTiffBytesToApf(std::span<const std::uint8_t> bytes, const std::string& apfPath,
                         TiffImportResult* result, std::string_view stationId) {
  TiffImportResult local;
  TiffImportResult& out = result ? *result : local;
  out = {};
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

}  // namespace veltrane::imaging
