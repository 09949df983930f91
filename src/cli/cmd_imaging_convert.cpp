// veltrane-fax convert IN [-o OUT.apf] ...: a picture or text file into an APF
// fax file through the fax converter.
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/cmd_imaging_common.h"
#include "cli/command.h"
#include "imaging/apf.h"
#include "imaging/fax_converter.h"
#include "imaging/tiff_reader.h"

namespace veltrane::cli {
namespace {

using imaging::TFaxInputDocumentType;

bool InputKind(const std::string& type, TFaxInputDocumentType& kind) {
  static const struct {
    const char* name;
    TFaxInputDocumentType kind;
  } kKinds[] = {
      {"bmp", TFaxInputDocumentType::idBmp}, {"txt", TFaxInputDocumentType::idText},
      {"tif", TFaxInputDocumentType::idTiff}, {"tiff", TFaxInputDocumentType::idTiff},
      {"pcx", TFaxInputDocumentType::idPcx}, {"dcx", TFaxInputDocumentType::idDcx},
  };
  for (const auto& k : kKinds)
    if (type == k.name) {
      kind = k.kind;
      return true;
    }
  return false;
}

// True for a TIFF whose first page is G3 fax data, which convert does not take.
bool IsG3Tiff(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  imaging::TiffFile file;
  imaging::TiffPage page;
  return imaging::ReadTiffFile(path, bytes) == 0 && file.parse(bytes) == 0 && file.readPage(0, page) == 0 &&
         page.compression == imaging::kCompressionG3;
}

ArgSpec ConvertSpec() {
  ArgSpec spec{"convert IN [-o OUT.apf] [--type bmp|txt|tif|pcx|dcx] [--fine] [--wide] [--margin N] "
               "[--top N] [--center] [--font small|standard]",
               "Converts a one-bit BMP (other BMPs are dithered), a text file, a TIFF, PCX or\n"
               "DCX file into an APF fax file. The type comes from IN's extension unless\n"
               "--type is given; OUT defaults to IN with the extension .APF."};
  spec.option("-o", "OUT.apf", "output APF file")
      .option("--type", "TYPE", "input type: bmp, txt, tif, pcx or dcx")
      .flag("--fine", "fine (high) resolution: 196 lines per inch instead of 98")
      .flag("--wide", "2048-pixel lines instead of 1728")
      .option("--margin", "N", "white pixels in front of every line (default 50)")
      .option("--top", "N", "blank lines at the top of every page (default 0)")
      .flag("--center", "centre images narrower than the line")
      .option("--font", "FONT", "text input: small or standard (default)");
  return spec;
}

int RunConvert(const std::vector<std::string>& args) {
  const ArgSpec spec = ConvertSpec();
  ParsedArgs parsed;
  if (int rc = parseArgs(spec, args, parsed, 1, 1); rc >= 0) return rc;
  const std::string& in = parsed.positional[0];

  const std::string type = parsed.has("--type") ? parsed.get("--type", "") : LowerExtension(in);
  TFaxInputDocumentType kind;
  if (!InputKind(type, kind)) {
    std::cerr << "veltrane-fax: " << in << ": unknown input type \"" << type
              << "\" (use --type bmp, txt, tif, pcx or dcx)\n";
    return 2;
  }
  long margin = 50, top = 0;
  if (!parsed.getInt("--margin", margin) || !parsed.getInt("--top", top)) return 2;
  if (margin < 0 || margin > 2048 || top < 0 || top > 10000) {
    std::cerr << "veltrane-fax: --margin is 0..2048 and --top 0..10000\n";
    return 2;
  }
  const std::string font = parsed.get("--font", "standard");
  if (font != "small" && font != "standard") {
    std::cerr << "veltrane-fax: --font is small or standard\n";
    return 2;
  }

  imaging::TFaxConverter converter;
  converter.SetInputDocumentType(kind);
  imaging::TFaxCvtOptionsSet options{imaging::TFaxCvtOptions::coYield};
  if (parsed.has("--center"))
    options = {imaging::TFaxCvtOptions::coYield, imaging::TFaxCvtOptions::coCenterImage};
  converter.SetOptions(options);
  converter.SetResolution(parsed.has("--fine") ? imaging::TFaxResolution::frHigh : imaging::TFaxResolution::frNormal);
  converter.SetWidth(parsed.has("--wide") ? imaging::TFaxWidth::fwWide : imaging::TFaxWidth::fwNormal);
  converter.SetLeftMargin(static_cast<int>(margin));
  converter.SetTopMargin(static_cast<int>(top));
  converter.SetFontType(font == "small" ? imaging::TFaxFont::ffSmall : imaging::TFaxFont::ffStandard);
  converter.SetDocumentFile(in);
  if (auto out = parsed.get("-o")) converter.SetOutFileName(*out);
  try {
    converter.ConvertToApf();
  } catch (const imaging::EFaxException& e) {
    std::cerr << "veltrane-fax: " << in << ": " << e.what() << "\n";
    if (kind == TFaxInputDocumentType::idTiff && e.Code() == imaging::kErrBadGraphicsFormat && IsG3Tiff(in))
      std::cerr << "veltrane-fax: G3 fax TIFF files are brought in with: veltrane-fax import " << in << "\n";
    return 1;
  }
  const std::string out = converter.State() ? converter.State()->outputFileName : converter.OutFileName();
  imaging::ApfFileHeader header;
  if (int rc = imaging::ReadFaxHeader(out, header); rc < 0) return FailWith(out, rc);
  std::cout << out << ": " << header.PageCount << (header.PageCount == 1 ? " page\n" : " pages\n");
  return 0;
}

}  // namespace
}  // namespace veltrane::cli

VELTRANE_CLI_COMMAND("convert", "convert a BMP, text, TIFF, PCX or DCX file into an APF fax file",
                     veltrane::cli::RunConvert);
