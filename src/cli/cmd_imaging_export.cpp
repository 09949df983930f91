// veltrane-fax export FILE.apf [--page N] -o OUT: fax pages out as PBM or PNG
// pictures (one file per page), or all of them as one TIFF Class F file.
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/cmd_imaging_common.h"
#include "cli/cmd_imaging_images.h"
#include "cli/command.h"
#include "imaging/apf.h"
#include "imaging/tiff_export.h"

namespace veltrane::cli {
namespace {

constexpr int kFaxXDpi = 204;

// OUT for a single page; OUT with "-N" before its extension when every page
// of a longer file is written.
std::string PageFileName(const std::string& out, unsigned page, bool numbered) {
  if (!numbered) return out;
  const auto dot = out.find_last_of('.');
  return out.substr(0, dot) + "-" + std::to_string(page) + out.substr(dot);
}

int WritePicture(const std::string& out, const std::string& ext, const imaging::ApfPageRaster& page) {
  imaging::MonoBitmap bitmap = page.bitmap;
  if (bitmap.height == 0) bitmap = imaging::MonoBitmap(bitmap.width, 1);  // no picture has 0 rows
  const auto bytes = ext == "png" ? EncodePng(bitmap, kFaxXDpi, page.highRes ? 196 : 98) : EncodePbm(bitmap);
  if (!WriteBytes(out, bytes)) return FailWith(out, imaging::FileErrorFromErrno(errno));
  std::cout << out << "\n";
  return 0;
}

int ExportTiff(const std::vector<std::uint8_t>& apf, unsigned first, unsigned last, const std::string& out,
               int fillOrder) {
  if (int rc = imaging::ExportApfToTiff(apf, first, last, out, fillOrder); rc < 0) return FailWith(out, rc);
  std::cout << out << ": " << (last - first + 1) << (first == last ? " page\n" : " pages\n");
  return 0;
}

int RunExport(const std::vector<std::string>& args) {
  ArgSpec spec{"export FILE.apf [--page N] -o OUT",
               "Decodes the pages of an APF fax file into pictures. OUT ending in .pbm or\n"
               ".png gets one page (with --page, or when the file has one page); without\n"
               "--page every page is written as OUT-1.png, OUT-2.png, ... OUT ending in .tif\n"
               "or .tiff gets a TIFF Class F file (G3 one-dimensional) with every page, or\n"
               "just page N. Pages are written line for line as coded: 204 dots per inch\n"
               "across, 98 (normal) or 196 (fine) lines per inch down."};
  spec.option("-o", "OUT", "output file (.pbm, .png, .tif or .tiff)")
      .option("--page", "N", "only page N (from 1)")
      .option("--fill-order", "1|2", "TIFF bit order: 1 first pixel in the high bit (default), 2 in the low bit");
  ParsedArgs parsed;
  if (int rc = parseArgs(spec, args, parsed, 1, 1); rc >= 0) return rc;
  const std::string& path = parsed.positional[0];
  const auto out = parsed.get("-o");
  if (!out) {
    std::cerr << "veltrane-fax: export needs -o OUT\n";
    return 2;
  }
  const std::string ext = LowerExtension(*out);
  if (ext != "pbm" && ext != "png" && ext != "tif" && ext != "tiff") {
    std::cerr << "veltrane-fax: " << *out << ": the output must end in .pbm, .png, .tif or .tiff\n";
    return 2;
  }
  long page = 0, fillOrder = 1;
  if (!parsed.getInt("--page", page) || !parsed.getInt("--fill-order", fillOrder)) return 2;
  if (fillOrder != 1 && fillOrder != 2) {
    std::cerr << "veltrane-fax: --fill-order is 1 or 2\n";
    return 2;
  }

  std::vector<std::uint8_t> apf;
  if (int rc = imaging::ReadWholeFile(path, apf); rc < 0) return FailWith(path, rc);
  imaging::ApfPageWalker walker;
  if (int rc = walker.Open(apf); rc < 0) return FailWith(path, rc);
  const unsigned count = walker.PageCount();
  if (parsed.has("--page") && (page < 1 || page > static_cast<long>(count)))
    return FailWith(path + " page " + std::to_string(page), imaging::kErrNotApf);
  if (count == 0) return FailWith(path, imaging::kErrNotApf);
  const unsigned first = page ? static_cast<unsigned>(page) : 1;
  const unsigned last = page ? static_cast<unsigned>(page) : count;

  if (ext == "tif" || ext == "tiff") return ExportTiff(apf, first, last, *out, static_cast<int>(fillOrder));
  for (unsigned n = first; n <= last; ++n) {
    imaging::ApfPageRaster raster;
    if (int rc = imaging::DecodeApfPageRaster(apf, n, raster); rc < 0)
      return FailWith(path + " page " + std::to_string(n), rc);
    if (int rc = WritePicture(PageFileName(*out, n, first != last), ext, raster); rc != 0) return rc;
  }
  return 0;
}

}  // namespace
}  // namespace veltrane::cli

VELTRANE_CLI_COMMAND("export", "decode APF fax pages to PBM, PNG or TIFF Class F", veltrane::cli::RunExport);
