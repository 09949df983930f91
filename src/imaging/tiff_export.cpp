#include "imaging/tiff_export.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/apf.h"
#include "imaging/converter_state.h"
#include "imaging/imaging_errors.h"
#include "imaging/tiff_writer.h"
#include "imaging/unpack.h"

namespace veltrane::imaging {

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

int ExportApfToTiff(std::span<const std::uint8_t> apf, unsigned first, unsigned last,
                    const std::string& tiffPath, int fillOrder) {
  if (first == 0 || first > last) return kErrNotApf;  // no such page
  TiffFaxWriter writer(fillOrder);
  for (unsigned n = first; n <= last; ++n) {
    ApfPageRaster page;
    if (int rc = DecodeApfPageRaster(apf, n, page); rc < 0) return rc;
    writer.BeginPage(page.bitmap.width, page.highRes);
    for (int y = 0; y < page.bitmap.height; ++y) writer.AddLine(page.bitmap.Row(y));
    writer.EndPage();
  }
  return writer.WriteFile(tiffPath);
}

}  // namespace veltrane::imaging
