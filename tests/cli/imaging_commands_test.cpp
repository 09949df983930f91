// The imaging commands of veltrane-fax, run as a user runs them: convert ->
// info -> export -> import round trips on varied pages, libtiff and fax2tiff
// as independent decoders of what we export, libtiff as the writer of G3
// files we import, and the messages of failing commands.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/apf.h"
#include "imaging/bitmap.h"
#include "imaging/tiff_test_pages.h"

#ifdef VELTRANE_HAVE_LIBTIFF
#include <tiffio.h>
#endif
#ifdef VELTRANE_HAVE_ZLIB
#include <zlib.h>
#endif

namespace veltrane::imaging {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string output;  // stdout and stderr together
};

ToolRun Tool(const std::string& args) {
  ToolRun run;
  const std::string command = std::string(VELTRANE_FAX_TOOL) + " " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

class ImagingCommands : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/veltrane-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

MonoBitmap ReadPbm(const std::string& path) {
  const auto bytes = Slurp(path);
  int w = 0, h = 0, used = 0;
  if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P4 %d %d%n", &w, &h, &used) != 2) return {};
  MonoBitmap bm(w, h);
  const std::size_t row = static_cast<std::size_t>(w + 7) / 8, at = static_cast<std::size_t>(used) + 1;
  if (bytes.size() < at + row * static_cast<std::size_t>(h)) return {};
  for (int y = 0; y < h; ++y) std::memcpy(bm.Row(y), bytes.data() + at + row * static_cast<std::size_t>(y), row);
  return bm;
}

// The bytes of an APF file after its header: page headers and page data.
std::vector<uint8_t> PagesOf(const std::string& path) {
  auto bytes = Slurp(path);
  return bytes.size() < kApfFileHeaderSize ? bytes : std::vector<uint8_t>(bytes.begin() + 64, bytes.end());
}

#ifdef VELTRANE_HAVE_ZLIB
// Reads a one-bit greyscale PNG with zlib as the independent inflater,
// checking every chunk's CRC. Empty on any fault.
MonoBitmap ReadPng(const std::string& path) {
  const auto bytes = Slurp(path);
  auto be32 = [&](std::size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
  };
  if (bytes.size() < 8 || std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) != 0) return {};
  uint32_t w = 0, h = 0;
  std::vector<uint8_t> idat;
  for (std::size_t at = 8; at + 12 <= bytes.size();) {
    const uint32_t n = be32(at);
    if (at + 12 + n > bytes.size()) return {};
    if (crc32(0, bytes.data() + at + 4, n + 4) != be32(at + 8 + n)) return {};
    const std::string type(bytes.begin() + static_cast<long>(at) + 4, bytes.begin() + static_cast<long>(at) + 8);
    if (type == "IHDR") {
      w = be32(at + 8);
      h = be32(at + 12);
      if (bytes[at + 16] != 1 || bytes[at + 17] != 0) return {};  // 1 bit, greyscale
    } else if (type == "IDAT") {
      idat.insert(idat.end(), bytes.begin() + static_cast<long>(at) + 8, bytes.begin() + static_cast<long>(at + 8 + n));
    }
    at += 12 + n;
  }
  const std::size_t row = (w + 7) / 8;
  uLongf size = static_cast<uLongf>((row + 1) * h);
  std::vector<uint8_t> raw(size);
  if (uncompress(raw.data(), &size, idat.data(), static_cast<uLong>(idat.size())) != Z_OK || size != raw.size())
    return {};
  MonoBitmap bm(static_cast<int>(w), static_cast<int>(h));
  for (uint32_t y = 0; y < h; ++y) {
    if (raw[y * (row + 1)] != 0) return {};  // filter type none
    for (std::size_t i = 0; i < row; ++i)
      bm.Row(static_cast<int>(y))[i] = static_cast<uint8_t>(~raw[y * (row + 1) + 1 + i]);  // 0 is black in PNG
  }
  return bm;
}
#endif

TEST_F(ImagingCommands, BmpConvertsExportsAndImportsBackExactly) {
  for (const auto& [name, page] : testpages::VariedPages()) {
    SCOPED_TRACE(name);
    const std::string bmp = Path(name + ".bmp"), apf = Path(name + ".apf");
    ASSERT_EQ(WriteMonoBmp(bmp, page), 0);
    const bool wide = page.width == 2048;
    ToolRun r = Tool("convert " + bmp + " -o " + apf + " --fine --margin 0" + (wide ? " --wide" : ""));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, apf + ": 1 page\n");

    r = Tool("info " + apf);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("pages:      1\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(wide ? "flags 0x0007 (fine, 2048 pixels, records)" : "flags 0x0005 (fine, 1728 pixels, records)"),
              std::string::npos)
        << r.output;

    ASSERT_EQ(Tool("export " + apf + " -o " + Path(name + ".pbm")).status, 0);
    EXPECT_EQ(ReadPbm(Path(name + ".pbm")), page);
#ifdef VELTRANE_HAVE_ZLIB
    ASSERT_EQ(Tool("export " + apf + " -o " + Path(name + ".png")).status, 0);
    EXPECT_EQ(ReadPng(Path(name + ".png")), page);  // large pages span many stored blocks
#endif

    // TIFF out and back in gives the very same coded page.
    const std::string tif = Path(name + ".tif"), back = Path(name + "-back.apf");
    ASSERT_EQ(Tool("export " + apf + " -o " + tif).status, 0);
    r = Tool("import " + tif + " -o " + back);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(PagesOf(back), PagesOf(apf));
  }
}

// The MH data of our records, length words removed, as fax2tiff reads raw fax data.
std::vector<uint8_t> RawMh(const std::string& apfPath) {
  const auto bytes = Slurp(apfPath);
  ApfPageWalker walker;
  ApfPageView page;
  if (walker.Open(bytes) < 0 || walker.Page(1, page) < 0) return {};
  std::vector<uint8_t> raw;
  for (std::size_t at = 0; at + 2 <= page.Data.size();) {
    const std::size_t n = page.Data[at] | page.Data[at + 1] << 8;
    at += 2;
    if (at + n > page.Data.size()) break;
    raw.insert(raw.end(), page.Data.begin() + static_cast<long>(at), page.Data.begin() + static_cast<long>(at + n));
    at += n;
  }
  return raw;
}

// Received faxes are stored as one bit stream per page, without length words.
TEST_F(ImagingCommands, StreamFormPagesExportLikeRecordPages) {
  const MonoBitmap page = testpages::TextPage(1728, 120);
  ASSERT_EQ(WriteMonoBmp(Path("page.bmp"), page), 0);
  ASSERT_EQ(Tool("convert " + Path("page.bmp") + " -o " + Path("records.apf") + " --margin 0").status, 0);
  const auto stream = RawMh(Path("records.apf"));  // ends with the end-of-page EOLs
  ASSERT_FALSE(stream.empty());

  ApfFileHeader header;
  header.Signature = kApfSignature;
  header.PageCount = 1;
  header.FirstPageOffset = kApfFileHeaderSize;
  ApfPageHeader pageHeader;
  pageHeader.DataLength = static_cast<uint32_t>(stream.size());
  pageHeader.PageFlags = 0;  // normal resolution, 1728 pixels, stream form
  std::vector<uint8_t> file(kApfFileHeaderSize + kApfPageHeaderSize);
  EncodeFileHeader(header, file.data());
  EncodePageHeader(pageHeader, file.data() + kApfFileHeaderSize);
  file.insert(file.end(), stream.begin(), stream.end());
  std::ofstream(Path("stream.apf"), std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));

  ToolRun r = Tool("info " + Path("stream.apf"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("flags 0x0000 (normal, 1728 pixels, stream), " + std::to_string(stream.size()) +
                          " bytes of data"),
            std::string::npos)
      << r.output;
  ASSERT_EQ(Tool("export " + Path("stream.apf") + " -o " + Path("stream.pbm")).status, 0);
  EXPECT_EQ(ReadPbm(Path("stream.pbm")), page);
  ASSERT_EQ(Tool("export " + Path("stream.apf") + " -o " + Path("stream.tif")).status, 0);
  ASSERT_EQ(Tool("import " + Path("stream.tif") + " -o " + Path("back.apf")).status, 0);
  EXPECT_EQ(PagesOf(Path("back.apf")), PagesOf(Path("records.apf")));
}

TEST_F(ImagingCommands, TextPagesExportOneFilePerPageAndOneTiff) {
  std::ofstream(Path("letter.txt")) << "First page\n\tindented\n\fSecond page\n\fThird page\n";
  ToolRun r = Tool("convert " + Path("letter.txt") + " --font small");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string apf = Path("letter.APF");
  EXPECT_EQ(r.output, apf + ": 3 pages\n");

  r = Tool("export " + apf + " -o " + Path("letter.png"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, Path("letter-1.png") + "\n" + Path("letter-2.png") + "\n" + Path("letter-3.png") + "\n");
  const auto png = Slurp(Path("letter-2.png"));
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);

  ASSERT_EQ(Tool("export " + apf + " --page 2 -o " + Path("two.pbm")).status, 0);
  const MonoBitmap two = ReadPbm(Path("two.pbm"));
  EXPECT_EQ(two.width, 1728);
  EXPECT_GT(two.height, 0);
#ifdef VELTRANE_HAVE_ZLIB
  EXPECT_EQ(ReadPng(Path("letter-2.png")), two);
#endif

  r = Tool("export " + apf + " -o " + Path("letter.tiff"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, Path("letter.tiff") + ": 3 pages\n");
  r = Tool("import " + Path("letter.tiff"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(PagesOf(Path("letter.APF")), PagesOf(apf));
}

TEST_F(ImagingCommands, FailuresPrintTheMessageAndExitNonZero) {
  std::ofstream(Path("junk.tif")) << "not a tiff at all";
  std::ofstream(Path("junk.apf")) << "APF10?this is no fax file, though it starts like one......................";
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"info " + Path("missing.apf"), "File not found"},
      {"info " + Path("junk.apf"), "File is not an APF file"},
      {"export " + Path("missing.apf") + " -o " + Path("x.pbm"), "File not found"},
      {"convert " + Path("junk.tif"), "Unsupported graphics file format"},
      {"import " + Path("junk.tif") + " -o " + Path("junk-out.apf"), "Unsupported graphics file format"},
      {"convert " + Path("junk.xyz"), "unknown input type"},
      {"export " + Path("junk.apf") + " -o " + Path("x.gif"), "must end in .pbm, .png, .tif or .tiff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Tool(c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
  EXPECT_FALSE(fs::exists(Path("junk.APF")));  // a failed conversion leaves no file
  EXPECT_FALSE(fs::exists(Path("junk-out.apf")));

  // A page beyond the last one.
  ASSERT_EQ(WriteMonoBmp(Path("one.bmp"), testpages::BlackPage(64, 2)), 0);
  ASSERT_EQ(Tool("convert " + Path("one.bmp")).status, 0);
  const ToolRun r = Tool("export " + Path("one.APF") + " --page 2 -o " + Path("p.pbm"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("File is not an APF file"), std::string::npos) << r.output;

  for (const char* command : {"convert", "info", "export", "import"}) {
    const ToolRun help = Tool(std::string(command) + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_EQ(help.output.rfind(std::string("usage: veltrane-fax ") + command, 0), 0u) << help.output;
  }
}

// efix (from efax), a fax program of its own, reads the TIFF files we export
// and writes G3 TIFF files we import, pixel for pixel both ways.
TEST_F(ImagingCommands, EfixReadsOurTiffAndWritesTiffWeImport) {
  if (std::system("command -v efix >/dev/null 2>&1") != 0) GTEST_SKIP() << "efix (efax) is not installed";
  for (const auto& [name, page] : testpages::VariedPages()) {
    if (page.width != 1728) continue;
    SCOPED_TRACE(name);
    const std::string apf = Path(name + ".apf");
    ASSERT_EQ(WriteMonoBmp(Path(name + ".bmp"), page), 0);
    ASSERT_EQ(Tool("convert " + Path(name + ".bmp") + " -o " + apf + " --fine --margin 0").status, 0);
    for (int fill : {1, 2}) {
      const std::string tif = Path(name + ".tif");
      ASSERT_EQ(Tool("export " + apf + " --fill-order " + std::to_string(fill) + " -o " + tif).status, 0);
      const std::string cmd = "efix -v '' -i tiffg3 -o pbm -n " + Path("efix%d.pbm") + " " + tif;
      ASSERT_EQ(std::system(cmd.c_str()), 0);
      EXPECT_EQ(ReadPbm(Path("efix1.pbm")), page) << "fill order " << fill;
    }
    const std::string theirs = Path(name + "-efix.tif"), back = Path(name + "-efix.apf");
    const std::string cmd = "efix -v '' -i pbm -o tiffg3 -n " + theirs + " " + Path("efix1.pbm");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_EQ(Tool("import " + theirs + " -o " + back).status, 0);
    ASSERT_EQ(Tool("export " + back + " -o " + Path("back.pbm")).status, 0);
    EXPECT_EQ(ReadPbm(Path("back.pbm")), page);
  }
}

#ifdef VELTRANE_HAVE_LIBTIFF

std::vector<MonoBitmap> DecodeWithLibtiff(const std::string& path) {
  std::vector<MonoBitmap> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    MonoBitmap bm(static_cast<int>(w), static_cast<int>(h));
    for (uint32_t y = 0; y < h; ++y)
      if (TIFFReadScanline(tif, bm.Row(static_cast<int>(y)), y) < 0) return {};
    pages.push_back(bm);
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

// Converts each varied page to its own APF file and exports it as TIFF.
TEST_F(ImagingCommands, LibtiffDecodesOurExportsToOurBitmaps) {
  for (const auto& [name, page] : testpages::VariedPages()) {
    SCOPED_TRACE(name);
    const std::string apf = Path(name + ".apf");
    ASSERT_EQ(WriteMonoBmp(Path(name + ".bmp"), page), 0);
    ASSERT_EQ(Tool("convert " + Path(name + ".bmp") + " -o " + apf + " --margin 0" +
                   (page.width == 2048 ? " --wide" : ""))
                  .status,
              0);
    ASSERT_EQ(Tool("export " + apf + " -o " + Path(name + ".pbm")).status, 0);
    const MonoBitmap ours = ReadPbm(Path(name + ".pbm"));
    for (int fill : {1, 2}) {
      const std::string tif = Path(name + std::to_string(fill) + ".tif");
      ASSERT_EQ(Tool("export " + apf + " --fill-order " + std::to_string(fill) + " -o " + tif).status, 0);
      const auto theirs = DecodeWithLibtiff(tif);
      ASSERT_EQ(theirs.size(), 1u);
      EXPECT_EQ(theirs[0], ours) << "fill order " << fill;
    }
  }
}

TEST_F(ImagingCommands, Fax2tiffDecodesOurRawMhDataToOurBitmaps) {
  if (std::system("command -v fax2tiff >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "fax2tiff (libtiff-tools) is not installed";
  for (const auto& [name, page] : testpages::VariedPages()) {
    if (page.width != 1728) continue;  // fax2tiff is told the width of a normal page
    SCOPED_TRACE(name);
    const std::string apf = Path(name + ".apf"), raw = Path(name + ".raw"), tif = Path(name + ".tif");
    ASSERT_EQ(WriteMonoBmp(Path(name + ".bmp"), page), 0);
    ASSERT_EQ(Tool("convert " + Path(name + ".bmp") + " -o " + apf + " --fine --margin 0").status, 0);
    ASSERT_EQ(Tool("export " + apf + " -o " + Path(name + ".pbm")).status, 0);
    const MonoBitmap ours = ReadPbm(Path(name + ".pbm"));
    const auto mh = RawMh(apf);
    std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(mh.data()), static_cast<long>(mh.size()));
    const std::string cmd = "fax2tiff -3 -1 -L -R 196 -X 1728 -o " + tif + " " + raw + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto theirs = DecodeWithLibtiff(tif);
    ASSERT_EQ(theirs.size(), 1u);
    // The end-of-page sequence may show up as extra white rows.
    ASSERT_GE(theirs[0].height, ours.height);
    for (int y = 0; y < theirs[0].height; ++y) {
      const bool white = std::all_of(theirs[0].Row(y), theirs[0].Row(y) + 216, [](uint8_t b) { return b == 0; });
      if (y < ours.height)
        ASSERT_EQ(std::memcmp(theirs[0].Row(y), ours.Row(y), 216), 0) << "row " << y;
      else
        ASSERT_TRUE(white) << "row " << y;
    }
  }
}

// G3 files written by libtiff, with and without byte-aligned EOLs and in both
// fill orders, import to exactly the bitmap libtiff reads from them.
TEST_F(ImagingCommands, ImportsLibtiffG3ToLibtiffsBitmaps) {
  const auto pages = testpages::VariedPages();
  for (uint16_t fill : {FILLORDER_MSB2LSB, FILLORDER_LSB2MSB}) {
    SCOPED_TRACE(fill);
    const std::string tif = Path("libtiff.tif"), apf = Path("libtiff.apf");
    TIFF* out = TIFFOpen(tif.c_str(), "w");
    ASSERT_NE(out, nullptr);
    for (const auto& [name, page] : pages) {
      TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.width));
      TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.height));
      TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
      TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, fill == FILLORDER_LSB2MSB ? GROUP3OPT_FILLBITS : 0);
      TIFFSetField(out, TIFFTAG_FILLORDER, fill);
      TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(out, TIFFTAG_YRESOLUTION, 196.0f);
      TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 128u);
      for (int y = 0; y < page.height; ++y)
        ASSERT_EQ(TIFFWriteScanline(out, const_cast<uint8_t*>(page.Row(y)), static_cast<uint32_t>(y)), 1);
      TIFFWriteDirectory(out);
    }
    TIFFClose(out);
    const auto theirs = DecodeWithLibtiff(tif);
    ASSERT_EQ(theirs.size(), pages.size());

    ToolRun r = Tool("import " + tif + " -o " + apf);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, apf + ": " + std::to_string(pages.size()) + " pages\n");
    r = Tool("export " + apf + " -o " + Path("page.pbm"));
    ASSERT_EQ(r.status, 0) << r.output;
    for (std::size_t i = 0; i < pages.size(); ++i)
      EXPECT_EQ(ReadPbm(Path("page-" + std::to_string(i + 1) + ".pbm")), theirs[i]) << pages[i].name;
  }
}

// The converter's TIFF input: uncompressed and PackBits pages, placed after
// the left margin like any other picture.
TEST_F(ImagingCommands, ConvertsUncompressedAndPackBitsTiff) {
  const MonoBitmap picture = testpages::TextPage(1600, 40);
  for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_PACKBITS}) {
    SCOPED_TRACE(compression);
    const std::string tif = Path("in.tif"), apf = Path("in.apf");
    TIFF* out = TIFFOpen(tif.c_str(), "w");
    ASSERT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(picture.width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(picture.height));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 16u);
    for (int y = 0; y < picture.height; ++y) {
      std::vector<uint8_t> row(picture.Row(y), picture.Row(y) + picture.width / 8);
      for (auto& b : row) b = static_cast<uint8_t>(~b);  // 0 is black here
      ASSERT_EQ(TIFFWriteScanline(out, row.data(), static_cast<uint32_t>(y)), 1);
    }
    TIFFClose(out);

    ToolRun r = Tool("convert " + tif + " -o " + apf + " --margin 50");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(Tool("export " + apf + " -o " + Path("out.pbm")).status, 0);
    const MonoBitmap got = ReadPbm(Path("out.pbm"));
    ASSERT_EQ(got.height, picture.height);
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < 1728; ++x)
        ASSERT_EQ(got.Pixel(x, y), x >= 50 && x < 50 + picture.width && picture.Pixel(x - 50, y))
            << x << "," << y;
  }
}

#endif  // VELTRANE_HAVE_LIBTIFF

}  // namespace
}  // namespace veltrane::imaging
