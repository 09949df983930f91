// veltrane-fax import IN.tif [-o OUT.apf]: a bilevel TIFF (G3 one-dimensional,
// uncompressed or PackBits) into an APF fax file, every page pixel for pixel.
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/cmd_imaging_common.h"
#include "cli/command.h"
#include "imaging/converter.h"
#include "imaging/tiff_import.h"

namespace veltrane::cli {
namespace {

int RunImport(const std::vector<std::string>& args) {
  ArgSpec spec{"import IN.tif [-o OUT.apf]",
               "Imports a bilevel TIFF file (G3 one-dimensional, uncompressed or PackBits)\n"
               "into an APF fax file, so faxes from other software can be sent and viewed;\n"
               "TIFF's Compression 2 (MH rows without EOLs) is read too.\n"
               "Pages up to 1728 pixels wide become 1728-pixel pages, wider ones (up to 2048)\n"
               "2048-pixel pages; 150 lines per inch or more means fine resolution.\n"
               "OUT defaults to IN with the extension .APF."};
  spec.option("-o", "OUT.apf", "output APF file");
  ParsedArgs parsed;
  if (int rc = parseArgs(spec, args, parsed, 1, 1); rc >= 0) return rc;
  const std::string& in = parsed.positional[0];
  const std::string out = imaging::ResolveOutputName(parsed.get("-o", ""), in);

  imaging::TiffImportResult result;
  if (int rc = imaging::ImportTiffToApf(in, out, &result); rc < 0) return FailWith(in, rc);
  std::cout << out << ": " << result.pages << (result.pages == 1 ? " page\n" : " pages\n");
  if (result.damagedRows)
    std::cerr << "veltrane-fax: " << in << ": " << result.damagedRows
              << " damaged rows were kept as far as they could be read\n";
  return 0;
}

}  // namespace
}  // namespace veltrane::cli

VELTRANE_CLI_COMMAND("import", "import a bilevel TIFF file into an APF fax file", veltrane::cli::RunImport);
