// The converter: BMP, PCX, DCX, text and user-event input, the component's
// properties, naming, status, abort and failure cleanup. Pages are decoded
// with libtiff to check the exact pixels.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/apf.h"
#include "imaging/bitmap.h"
#include "imaging/converter.h"
#include "imaging/dither.h"
#include "imaging/fax_converter.h"
#include "imaging/imaging_errors.h"
#include "imaging/input_text.h"
#include "t4_libtiff_peer.h"

namespace veltrane::imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
using enum TFaxInputDocumentType;
using enum TFaxCvtOptions;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A BMP with `bits` bits per pixel; pixel(x, y) gives a palette index (1 and
// 8 bits) or a grey level (24 bits). The one-bit table is black first unless
// whiteFirst.
template <typename PixelFn>
Bytes MakeBmp(int w, int h, int bits, PixelFn pixel, bool whiteFirst = false) {
  const std::size_t row = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
  const std::size_t colours = bits <= 8 ? (1u << bits) : 0;
  const std::size_t off = 54 + 4 * colours;
  Bytes b(off + row * static_cast<std::size_t>(h), 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, static_cast<std::uint32_t>(off));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(w));
  Put32(b, 22, static_cast<std::uint32_t>(h));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<std::uint32_t>(bits));
  for (std::size_t i = 0; i < colours; ++i) {
    std::uint8_t grey = bits == 1 ? ((i == 1) != whiteFirst ? 255 : 0) : static_cast<std::uint8_t>(i);
    b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = grey;
  }
  for (int y = 0; y < h; ++y) {
    std::uint8_t* r = b.data() + off + row * static_cast<std::size_t>(h - 1 - y);
    for (int x = 0; x < w; ++x) {
      int v = pixel(x, y);
      if (bits == 1) {
        if (v) r[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      } else if (bits == 8) {
        r[x] = static_cast<std::uint8_t>(v);
      } else {
        r[3 * x] = r[3 * x + 1] = r[3 * x + 2] = static_cast<std::uint8_t>(v);
      }
    }
  }
  return b;
}

// A one-bit BMP of `img` (1 = black) with the usual black-first table.
Bytes BmpOf(const MonoBitmap& img, bool whiteFirst = false) {
  return MakeBmp(img.width, img.height, 1, [&](int x, int y) { return img.Pixel(x, y) == whiteFirst ? 1 : 0; },
                 whiteFirst);
}

MonoBitmap PatternImage(int w, int h) {
  MonoBitmap img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((x * 7 + y * 13) % 11 < 4 || x == 0 || x == w - 1) img.SetPixel(x, y, true);
  return img;
}

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veltrane-cvt-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const Bytes& b) {
    std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    return Path(name);
  }
  std::string WriteText(const std::string& name, const std::string& text) {
    return Write(name, Bytes(text.begin(), text.end()));
  }

  // The program's own settings for rendered pages.
  void ConfigureAsRenderer(TFaxConverter& c, const std::string& bmp, TFaxInputDocumentType kind = idBmp) {
    c.SetOptions({coYield});
    c.SetResolution(TFaxResolution::frHigh);
    c.SetDocumentFile(bmp);
    c.SetInputDocumentType(kind);
  }

  static Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  struct Page {
    std::uint16_t flags = 0;
    std::vector<Bytes> records;  // the line records, end-of-page record left out
    MonoBitmap image;            // decoded by libtiff (empty without it)
  };

  static std::vector<Page> ReadPages(const std::string& apf) {
    Bytes file = Slurp(apf);
    ApfPageWalker walker;
    EXPECT_EQ(walker.Open(file), 0);
    std::vector<Page> pages;
    for (unsigned n = 1; n <= walker.PageCount(); ++n) {
      ApfPageView view;
      EXPECT_EQ(walker.Page(n, view), 0);
      Page p;
      p.flags = view.PageFlags;
      Bytes mh;
      for (std::size_t i = 0; i + 2 <= view.Data.size();) {
        std::size_t len = view.Data[i] | (view.Data[i + 1] << 8);
        Bytes rec(view.Data.begin() + static_cast<long>(i) + 2, view.Data.begin() + static_cast<long>(i + 2 + len));
        i += 2 + len;
        mh.insert(mh.end(), rec.begin(), rec.end());
        if (i < view.Data.size()) p.records.push_back(rec);
        else EXPECT_EQ(rec, Bytes(kApfEndOfPageRecord.begin() + 2, kApfEndOfPageRecord.end()));
      }
#ifdef VELTRANE_HAVE_LIBTIFF
      const int width = (p.flags & pfWide) ? 2048 : 1728;
      if (!p.records.empty()) p.image = testpeer::DecodeMhWithLibtiff(mh, width, static_cast<int>(p.records.size()));
#endif
      pages.push_back(std::move(p));
    }
    return pages;
  }

  // The line the converter should code for an image row placed at `at`.
  static Bytes ExpectedLine(const MonoBitmap& img, int y, int at, int lineWidth = 1728, int keep = -1) {
    MonoBitmap line(lineWidth, 1);
    if (keep < 0) keep = img.width;
    for (int x = 0; x < keep && at + x < lineWidth; ++x)
      if (img.Pixel(x, y)) line.SetPixel(at + x, 0, true);
    return line.bits;
  }

  static Bytes RowOf(const MonoBitmap& m, int y) { return Bytes(m.Row(y), m.Row(y) + m.stride); }

  fs::path dir_;
};

#ifdef VELTRANE_HAVE_LIBTIFF
#define NEEDS_LIBTIFF()
#else
#define NEEDS_LIBTIFF() GTEST_SKIP() << "libtiff not available"
#endif

TEST_F(ConverterTest, RendererPageGivesMarginImageAndWhiteTail) {
  NEEDS_LIBTIFF();
  struct Case {
    int width;
    int keep;  // pixels of each row that reach the line
  };
  // 1664: 50 + 1664 + 14 white. 1700: the last 22 pixels fall off the line.
  // 1661: the pad bits of each row's last byte stay white.
  for (Case c : {Case{1664, 1664}, Case{1700, 1678}, Case{1661, 1661}}) {
    MonoBitmap img = PatternImage(c.width, 40);
    std::string bmp = Write("page.bmp", BmpOf(img));
    TFaxConverter cvt;
    ConfigureAsRenderer(cvt, bmp);
    ASSERT_NO_THROW(cvt.ConvertToApf()) << c.width;
    EXPECT_EQ(cvt.OutFileName(), Path("page.APF"));
    auto pages = ReadPages(Path("page.APF"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].flags, pfHighRes | pfLengthWords);
    ASSERT_EQ(pages[0].records.size(), 40u);
    for (int y = 0; y < 40; ++y)
      ASSERT_EQ(RowOf(pages[0].image, y), ExpectedLine(img, y, 50, 1728, c.keep)) << c.width << " row " << y;
  }
}

TEST_F(ConverterTest, ColourTableDecidesWhichBitIsBlack) {
  MonoBitmap img = PatternImage(1664, 12);
  std::string blackFirst = Write("bf.bmp", BmpOf(img, false));
  std::string whiteFirst = Write("wf.bmp", BmpOf(img, true));
  ASSERT_NE(Slurp(blackFirst), Slurp(whiteFirst));
  for (const std::string& in : {blackFirst, whiteFirst}) {
    TFaxConverter cvt;
    ConfigureAsRenderer(cvt, in);
    cvt.ConvertToApf();
  }
  auto a = ReadPages(Path("bf.APF"));
  auto b = ReadPages(Path("wf.APF"));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].records, b[0].records);
  // And our own BMP writer, used for rendered pages, reads back as written.
  ASSERT_EQ(WriteMonoBmp(Path("own.bmp"), img), 0);
  TFaxConverter cvt;
  ConfigureAsRenderer(cvt, Path("own.bmp"));
  cvt.ConvertToApf();
  EXPECT_EQ(ReadPages(Path("own.APF"))[0].records, a[0].records);
}

TEST_F(ConverterTest, BadBmpsFailAndLeaveNoFile) {
  MonoBitmap img = PatternImage(1729, 4);
  Bytes tooWide = BmpOf(img);
  Bytes badType = BmpOf(PatternImage(100, 4));
  badType[0] = 'X';
  Bytes millionRows = BmpOf(PatternImage(100, 4));
  Put32(millionRows, 22, 1000000);
  Bytes topDown = BmpOf(PatternImage(100, 4));
  Put32(topDown, 22, static_cast<std::uint32_t>(-4));
  Bytes noWidth = MakeBmp(0, 1, 1, [](int, int) { return 0; });
  Put32(noWidth, 22, 100000000);  // zero-width rows take no bytes: any height "fits"
  Bytes cut(badType.begin(), badType.begin() + 30);
  for (const Bytes& b : {tooWide, badType, millionRows, topDown, noWidth, cut}) {
    std::string in = Write("bad.bmp", b);
    TFaxConverter cvt;
    ConfigureAsRenderer(cvt, in);
    try {
      cvt.ConvertToApf();
      ADD_FAILURE() << "no exception";
    } catch (const EBadGraphicsFormat& e) {
      EXPECT_STREQ(e.what(), "Unsupported graphics file format");
    }
    EXPECT_FALSE(fs::exists(Path("bad.APF")));
  }
  TFaxConverter cvt;
  ConfigureAsRenderer(cvt, Path("missing.bmp"));
  try {
    cvt.ConvertToApf();
    ADD_FAILURE() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  EXPECT_FALSE(fs::exists(Path("missing.APF")));
}

TEST_F(ConverterTest, EmptyBitmapGivesOnePageWithoutLines) {
  std::string in = Write("empty.bmp", BmpOf(MonoBitmap(1664, 0)));
  // MonoBitmap(1664, 0) is empty: write the header by hand with height 0.
  Bytes b = MakeBmp(1664, 0, 1, [](int, int) { return 0; });
  in = Write("empty.bmp", b);
  TFaxConverter cvt;
  ConfigureAsRenderer(cvt, in);
  cvt.ConvertToApf();
  ApfPageHeader ph;
  ASSERT_EQ(ReadPageHeader(Path("empty.APF"), 1, ph), 0);
  EXPECT_EQ(ph.DataLength, 14u);
}

TEST_F(ConverterTest, ColourBmpIsDitheredThroughATemporaryFile) {
  NEEDS_LIBTIFF();
  auto ditherFiles = [] {
    int n = 0;
    for (auto& e : fs::directory_iterator(fs::temp_directory_path()))
      if (e.path().filename().string().rfind("~DIT", 0) == 0) ++n;
    return n;
  };
  const int before = ditherFiles();
  // Black and white areas survive dithering exactly; mid grey becomes a pattern.
  auto grey = [](int x, int) { return x < 200 ? 0 : x < 400 ? 255 : 128; };
  for (int bits : {8, 24}) {
    std::string in = Write("grey.bmp", MakeBmp(600, 20, bits, grey));
    TFaxConverter cvt;
    ConfigureAsRenderer(cvt, in);
    ASSERT_NO_THROW(cvt.ConvertToApf()) << bits;
    auto pages = ReadPages(Path("grey.APF"));
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].records.size(), 20u);
    int blackInGrey = 0;
    for (int y = 0; y < 20; ++y) {
      for (int x = 0; x < 600; ++x) {
        bool black = pages[0].image.Pixel(50 + x, y);
        if (x < 200) ASSERT_TRUE(black) << bits << " " << x;
        else if (x < 400) ASSERT_FALSE(black) << bits << " " << x;
        else blackInGrey += black;
      }
    }
    EXPECT_GT(blackInGrey, 200 * 20 * 4 / 10) << bits;
    EXPECT_LT(blackInGrey, 200 * 20 * 6 / 10) << bits;
  }
  EXPECT_EQ(ditherFiles(), before);
}

TEST_F(ConverterTest, HalfHeightCodesOddLines) {
  NEEDS_LIBTIFF();
  MonoBitmap img(100, 10);
  for (int y = 0; y < 10; ++y) img.SetPixel(y * 3, y, true);
  std::string in = Write("ten.bmp", BmpOf(img));
  TFaxConverter cvt;
  cvt.SetDocumentFile(in);
  cvt.SetInputDocumentType(idBmp);
  cvt.SetOptions({coHalfHeight});
  cvt.ConvertToApf();
  auto pages = ReadPages(Path("ten.APF"));
  EXPECT_EQ(pages[0].flags, pfLengthWords);
  ASSERT_EQ(pages[0].records.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(RowOf(pages[0].image, i), ExpectedLine(img, 2 * i, 50)) << i;
}

TEST_F(ConverterTest, CentringAndDoubleWidthAtNormalResolution) {
  NEEDS_LIBTIFF();
  MonoBitmap img = PatternImage(800, 6);
  std::string in = Write("small.bmp", BmpOf(img));
  {
    TFaxConverter cvt;  // default options: double width and centring
    cvt.SetDocumentFile(in);
    cvt.SetInputDocumentType(idBmp);
    cvt.ConvertToApf();
    auto pages = ReadPages(Path("small.APF"));
    ASSERT_EQ(pages[0].records.size(), 6u);
    // Centre offset (1728 - 1600) / 32 = 4 bytes, doubled to 64 pixels after the margin.
    for (int y = 0; y < 6; ++y) {
      MonoBitmap line(1728, 1);
      for (int x = 0; x < 800; ++x)
        if (img.Pixel(x, y)) line.SetPixel(50 + 64 + 2 * x, 0, true), line.SetPixel(50 + 64 + 2 * x + 1, 0, true);
      ASSERT_EQ(RowOf(pages[0].image, y), line.bits) << y;
    }
  }
  {
    TFaxConverter cvt;
    cvt.SetDocumentFile(in);
    cvt.SetInputDocumentType(idBmp);
    cvt.SetOptions({coCenterImage});
    cvt.SetWidth(TFaxWidth::fwWide);
    cvt.ConvertToApf();
    auto pages = ReadPages(Path("small.APF"));
    EXPECT_EQ(pages[0].flags, pfWide | pfLengthWords);
    for (int y = 0; y < 6; ++y)  // (2048 - 800) / 16 = 78 bytes
      ASSERT_EQ(RowOf(pages[0].image, y), ExpectedLine(img, y, 50 + 78 * 8, 2048)) << y;
  }
}

TEST_F(ConverterTest, OptionsAndNaming) {
  TFaxConverter cvt;
  EXPECT_EQ(cvt.Options().Byte(), 13);
  EXPECT_EQ(cvt.LeftMargin(), 50);
  EXPECT_EQ(cvt.FontFile(), "FAXFONT.FNT");
  cvt.SetOptions({coYieldOften});
  EXPECT_EQ(cvt.Options(), (TFaxCvtOptionsSet{coYield, coYieldOften}));

  cvt.SetDocumentFile("/data/page.bmp");
  EXPECT_EQ(cvt.OutFileName(), "/data/page.APF");
  cvt.SetOutFileName("other");
  cvt.SetDocumentFile("/data/page.bmp");  // the same name again changes nothing
  EXPECT_EQ(cvt.OutFileName(), "other");

  struct Case {
    const char* document;
    const char* ext;
    const char* out;
    const char* wantIn;
    const char* wantOut;
  };
  const Case cases[] = {
      {"/d/page", "BMP", "", "/d/page.BMP", "/d/page.APF"},
      {"/d/page.bmp", "BMP", "fax", "/d/page.bmp", "fax.APF"},
      {"/d.x/page", "TXT", "/o.d/out.apf", "/d.x/page.TXT", "/o.d/out.apf"},
      {"C:\\d.x\\page", "PCX", "", "C:\\d.x\\page.PCX", "C:\\d.x\\page.APF"},
  };
  for (const Case& c : cases) {
    std::string in = ResolveInputName(c.document, c.ext);
    EXPECT_EQ(in, c.wantIn);
    EXPECT_EQ(ResolveOutputName(c.out, in), c.wantOut);
  }
}

TEST_F(ConverterTest, RefusedKindsTouchNoFile) {
  std::string in = Write("page.bmp", BmpOf(PatternImage(64, 2)));
  for (TFaxInputDocumentType kind : {idBitmap, idNone}) {
    TFaxConverter cvt;
    cvt.SetDocumentFile(in);
    cvt.SetInputDocumentType(kind);
    try {
      cvt.ConvertToApf();
      ADD_FAILURE();
    } catch (const EBadArgument& e) {
      EXPECT_STREQ(e.what(), "Bad argument passed to function");
    }
    EXPECT_FALSE(fs::exists(Path("page.APF")));
  }
}

TEST_F(ConverterTest, StatusAbortAndQuit) {
  std::string in = Write("page.bmp", BmpOf(PatternImage(1664, 30)));
  struct Report {
    bool starting, ending;
    int pages, lines;
    std::uint32_t done, total;
  };
  std::vector<Report> reports;
  TFaxConverter cvt;
  ConfigureAsRenderer(cvt, in);
  cvt.OnStatus = [&](TCustomFaxConverter&, bool s, bool e, int p, int l, std::uint32_t d, std::uint32_t t, bool&) {
    reports.push_back({s, e, p, l, d, t});
  };
  cvt.ConvertToApf();
  ASSERT_EQ(reports.size(), 1u + 31 + 1);  // Starting, every read (30 lines + end of page), Ending
  EXPECT_TRUE(reports.front().starting);
  EXPECT_TRUE(reports.back().ending);
  EXPECT_EQ(reports[30].lines, 30);
  EXPECT_EQ(reports[30].done, 30u * 208);
  EXPECT_EQ(reports[30].total, 30u * 208);
  EXPECT_EQ(reports[30].pages, 1);

  // Abort in the first progress report: nothing left behind.
  fs::remove(Path("page.APF"));
  int seen = 0;
  cvt.OnStatus = [&](TCustomFaxConverter&, bool s, bool e, int, int, std::uint32_t, std::uint32_t, bool& abort) {
    if (!s && !e && ++seen == 1) abort = true;
  };
  try {
    cvt.ConvertToApf();
    ADD_FAILURE();
  } catch (const EConvertAbort& e) {
    EXPECT_STREQ(e.what(), "User aborted fax conversion");
  }
  EXPECT_FALSE(fs::exists(Path("page.APF")));

  // A quit seen while yielding at the end of the page.
  cvt.OnStatus = nullptr;
  int yields = 0;
  cvt.YieldHook = [&] { return ++yields == 1 ? kErrGotQuitMsg : 0; };
  EXPECT_THROW(cvt.ConvertToApf(), EGotQuitMsg);
  EXPECT_EQ(yields, 1);
  EXPECT_FALSE(fs::exists(Path("page.APF")));
}

TEST_F(ConverterTest, UserEventsSupplyLines) {
  NEEDS_LIBTIFF();
  TFaxConverter cvt;
  cvt.SetInputDocumentType(idUser);
  cvt.SetDefUserExtension("RAW");
  cvt.SetDocumentFile(Path("user"));
  cvt.SetLeftMargin(0);
  std::string opened;
  int page = 0, line = 0;
  cvt.OnOpenUserFile = [&](TCustomFaxConverter&, const std::string& name) { opened = name; };
  cvt.OnReadUserLine = [&](TCustomFaxConverter&, std::uint8_t* data, int& len, bool& eop, bool& more) {
    if (line == 3) {
      eop = true;
      more = ++page < 2;
      line = 0;
      return;
    }
    data[line] = 0xF0;
    len = 216;
    ++line;
  };
  cvt.ConvertToApf();
  EXPECT_EQ(opened, Path("user.RAW"));
  auto pages = ReadPages(Path("user.APF"));
  ASSERT_EQ(pages.size(), 2u);
  for (const Page& p : pages) {
    ASSERT_EQ(p.records.size(), 3u);
    for (int y = 0; y < 3; ++y) {
      Bytes want(216, 0);
      want[static_cast<std::size_t>(y)] = 0xF0;
      EXPECT_EQ(RowOf(p.image, y), want);
    }
  }

  // Without a line handler: one page without lines.
  cvt.OnReadUserLine = nullptr;
  cvt.ConvertToApf();
  ApfPageHeader ph;
  ASSERT_EQ(ReadPageHeader(Path("user.APF"), 1, ph), 0);
  EXPECT_EQ(ph.DataLength, 14u);

  // A handler that throws ends the conversion with its own exception.
  cvt.OnReadUserLine = [](TCustomFaxConverter&, std::uint8_t*, int&, bool&, bool&) {
    throw std::runtime_error("scanner jammed");
  };
  try {
    cvt.ConvertToApf();
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "scanner jammed");
  }
  EXPECT_FALSE(fs::exists(Path("user.APF")));
}

// PCX of a bitmap: 1 = white in the file, runs of repeated bytes coded.
Bytes PcxOf(const MonoBitmap& img, int bytesPerLine = -1) {
  if (bytesPerLine < 0) bytesPerLine = static_cast<int>((img.stride + 1) & ~std::size_t{1});
  Bytes b(128, 0);
  b[0] = 10, b[1] = 5, b[2] = 1, b[3] = 1;
  Put16(b, 8, static_cast<std::uint32_t>(img.width - 1));
  Put16(b, 10, static_cast<std::uint32_t>(img.height - 1));
  b[65] = 1;
  Put16(b, 66, static_cast<std::uint32_t>(bytesPerLine));
  for (int y = 0; y < img.height; ++y) {
    Bytes row(static_cast<std::size_t>(bytesPerLine), 0xFF);
    for (std::size_t i = 0; i < img.stride; ++i) row[i] = static_cast<std::uint8_t>(~img.Row(y)[i]);
    for (std::size_t i = 0; i < row.size();) {
      std::size_t n = 1;
      while (i + n < row.size() && row[i + n] == row[i] && n < 63) ++n;
      if (n > 1 || row[i] >= 0xC0) b.push_back(static_cast<std::uint8_t>(0xC0 | n));
      b.push_back(row[i]);
      i += n;
    }
  }
  return b;
}

TEST_F(ConverterTest, PcxAndDcxPages) {
  NEEDS_LIBTIFF();
  MonoBitmap a = PatternImage(1600, 8), b = PatternImage(1021, 5);
  Write("one.PCX", PcxOf(a));
  Bytes pa = PcxOf(a), pb = PcxOf(b);
  Bytes dcx(4 + 4 * 3, 0);
  Put32(dcx, 0, 987654321);
  Put32(dcx, 4, 16);
  Put32(dcx, 8, static_cast<std::uint32_t>(16 + pa.size()));
  dcx.insert(dcx.end(), pa.begin(), pa.end());
  dcx.insert(dcx.end(), pb.begin(), pb.end());
  Write("two.DCX", dcx);

  TFaxConverter cvt;
  cvt.SetOptions({});
  cvt.SetDocumentFile(Path("one"));
  cvt.SetInputDocumentType(idPcx);
  cvt.ConvertToApf();
  auto pages = ReadPages(Path("one.APF"));
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].records.size(), 8u);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(RowOf(pages[0].image, y), ExpectedLine(a, y, 50)) << y;

  cvt.SetDocumentFile(Path("two"));
  cvt.SetInputDocumentType(idDcx);
  cvt.SetTopMargin(2);
  cvt.ConvertToApf();
  pages = ReadPages(Path("two.APF"));
  ASSERT_EQ(pages.size(), 2u);
  ASSERT_EQ(pages[1].records.size(), 2u + 5);
  EXPECT_EQ(pages[1].records[0], (Bytes{0x00, 0x28, 0x9B, 0x15}));  // a top-margin line
  for (int y = 0; y < 5; ++y) EXPECT_EQ(RowOf(pages[1].image, 2 + y), ExpectedLine(b, y, 50)) << y;

  Bytes bad = PcxOf(a);
  bad[0] = 11;
  Bytes cut = PcxOf(a);
  cut.resize(cut.size() / 2);
  for (const Bytes& f : {bad, cut}) {
    Write("bad.pcx", f);
    cvt.SetDocumentFile(Path("bad.pcx"));
    cvt.SetInputDocumentType(idPcx);
    EXPECT_THROW(cvt.ConvertToApf(), EBadGraphicsFormat);
    EXPECT_FALSE(fs::exists(Path("bad.APF")));
  }
}

TEST_F(ConverterTest, TextPages) {
  WriteText("note.TXT", "Hello\tfax\r\nsecond line\n\fpage two\nx\ny\nz\n");
  TFaxConverter cvt;
  cvt.SetDocumentFile(Path("note"));
  cvt.SetInputDocumentType(idText);
  cvt.SetLinesPerPage(2);
  cvt.ConvertToApf();
  auto pages = ReadPages(Path("note.APF"));
  // Page 1 ends at the form feed, the rest is split by LinesPerPage.
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].records.size(), 2u * 16);
  EXPECT_EQ(pages[1].records.size(), 2u * 16);
  EXPECT_EQ(pages[2].records.size(), 2u * 16);

  cvt.SetLinesPerPage(0);
  cvt.SetFontType(TFaxFont::ffSmall);
  cvt.SetResolution(TFaxResolution::frHigh);
  cvt.ConvertToApf();
  pages = ReadPages(Path("note.APF"));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].records.size(), 2u * 16);  // 8 rows doubled at high resolution
  EXPECT_EQ(pages[1].records.size(), 4u * 16);

  EXPECT_EQ(ExpandTabs("a\tbc\tdefg\th", 4), "a   bc  defg    h");
  EXPECT_EQ(ExpandTabs("\tx", 0), " x");
}

TEST(Dither, MatrixCoversTheRangeOnce) {
  const DitherMatrix& m = TDitherMatrix();
  std::vector<int> seen(256, 0);
  for (auto& row : m)
    for (std::uint8_t v : row) seen[v]++;
  int distinct = 0;
  for (int c : seen) distinct += c > 0;
  EXPECT_EQ(distinct, 256 - 1);  // 256 Bayer levels scaled into 0..254 (two share one value)
  EXPECT_EQ(m[0][0], 0);
}

}  // namespace
}  // namespace veltrane::imaging
