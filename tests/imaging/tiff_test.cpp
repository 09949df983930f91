// TIFF reading and writing: the container checks on corrupt files, the row
// decoders (uncompressed, PackBits, G3 MH) in both byte and fill orders, and
// libtiff as an independent reader and writer of G3 pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/apf.h"
#include "imaging/bitmap.h"
#include "imaging/fax_converter.h"
#include "imaging/tiff_reader.h"
#include "imaging/tiff_rows.h"
#include "imaging/tiff_writer.h"
#include "imaging/tiff_test_pages.h"

#include <unistd.h>

#ifdef VELTRANE_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace veltrane::imaging {
namespace {

// Builds TIFF files field by field, in either byte order: data blocks first,
// then one IFD per page with its out-of-line values right after it.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool big_endian) : big_(big_endian) {
    bytes_ = {uint8_t(big_ ? 'M' : 'I'), uint8_t(big_ ? 'M' : 'I')};
    Put16(bytes_, 42);
    Put32(bytes_, 0);
    pages_.emplace_back();
  }

  uint32_t AddData(const std::vector<uint8_t>& data) {
    const uint32_t at = uint32_t(bytes_.size());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return at;
  }
  // Values of SHORT/LONG/BYTE fields; RATIONAL takes numerator, denominator pairs.
  TiffBuilder& Tag(uint16_t tag, uint16_t type, std::vector<uint32_t> values) {
    pages_.back()[tag] = {type, std::move(values)};
    return *this;
  }
  TiffBuilder& Drop(uint16_t tag) {
    pages_.back().erase(tag);
    return *this;
  }
  void NextPage() { pages_.emplace_back(); }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out = bytes_;
    std::size_t link = 4;
    for (const auto& page : pages_) {
      if (out.size() & 1) out.push_back(0);
      Set32(out, link, uint32_t(out.size()));
      const std::size_t ifd = out.size();
      std::size_t extra = ifd + 2 + 12 * page.size() + 4;
      std::vector<uint8_t> tail;
      Put16(out, uint32_t(page.size()));
      for (const auto& [tag, field] : page) {
        const auto& [type, values] = field;
        std::vector<uint8_t> packed;
        for (uint32_t v : values) {
          if (type == kTypeShort) Put16(packed, v);
          else if (type == kTypeByte || type == kTypeAscii) packed.push_back(uint8_t(v));
          else Put32(packed, v);
        }
        const uint32_t count = type == kTypeRational ? uint32_t(values.size() / 2) : uint32_t(values.size());
        Put16(out, tag);
        Put16(out, type);
        Put32(out, count);
        if (packed.size() <= 4) {
          packed.resize(4, 0);
          out.insert(out.end(), packed.begin(), packed.end());
        } else {
          Put32(out, uint32_t(extra + tail.size()));
          tail.insert(tail.end(), packed.begin(), packed.end());
        }
      }
      link = out.size();
      Put32(out, 0);
      out.insert(out.end(), tail.begin(), tail.end());
    }
    return out;
  }

  void Put16(std::vector<uint8_t>& out, uint32_t v) const {
    if (big_) out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
    else out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
  }
  void Put32(std::vector<uint8_t>& out, uint32_t v) const {
    if (big_) {
      Put16(out, v >> 16);
      Put16(out, v & 0xFFFF);
    } else {
      Put16(out, v & 0xFFFF);
      Put16(out, v >> 16);
    }
  }
  void Set32(std::vector<uint8_t>& out, std::size_t at, uint32_t v) const {
    std::vector<uint8_t> b;
    Put32(b, v);
    std::memcpy(out.data() + at, b.data(), 4);
  }

 private:
  using Field = std::pair<uint16_t, std::vector<uint32_t>>;
  bool big_;
  std::vector<uint8_t> bytes_;
  std::vector<std::map<uint16_t, Field>> pages_;
};

uint8_t Reverse(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = uint8_t(r | ((b >> i) & 1) << (7 - i));
  return r;
}

// A small picture with an odd width, so the partial last byte is exercised.
MonoBitmap Sample(int width = 37, int rows = 10) {
  MonoBitmap bm(width, rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < width; ++x) bm.SetPixel(x, y, (x * 7 + y * 3) % 5 == 0 || x == y);
  return bm;
}

struct StoredForm {
  bool big_endian;
  uint16_t compression;
  uint32_t rows_per_strip;
  uint16_t photometric;
  uint16_t fill_order;
};

// Stores `bm` as a bilevel page in the given form.
std::vector<uint8_t> StorePage(const MonoBitmap& bm, const StoredForm& form) {
  TiffBuilder b(form.big_endian);
  const uint32_t bpr = uint32_t(bm.width + 7) / 8;
  std::vector<uint32_t> offsets, counts;
  for (int first = 0; first < bm.height; first += int(form.rows_per_strip)) {
    std::vector<uint8_t> raw;
    for (int y = first; y < bm.height && y < first + int(form.rows_per_strip); ++y)
      for (uint32_t i = 0; i < bpr; ++i) {
        uint8_t v = bm.Row(y)[i];
        if (form.photometric == 1) v = uint8_t(~v);
        raw.push_back(form.fill_order == 2 ? Reverse(v) : v);
      }
    if (form.compression == kCompressionPackBits) raw = PackBitsEncode(raw);
    offsets.push_back(b.AddData(raw));
    counts.push_back(uint32_t(raw.size()));
  }
  b.Tag(kTagImageWidth, kTypeShort, {uint32_t(bm.width)})
      .Tag(kTagImageLength, kTypeLong, {uint32_t(bm.height)})
      .Tag(kTagBitsPerSample, kTypeShort, {1})
      .Tag(kTagCompression, kTypeShort, {form.compression})
      .Tag(kTagPhotometric, kTypeShort, {form.photometric})
      .Tag(kTagFillOrder, kTypeShort, {form.fill_order})
      .Tag(kTagStripOffsets, kTypeLong, offsets)
      .Tag(kTagRowsPerStrip, kTypeShort, {form.rows_per_strip})
      .Tag(kTagStripByteCounts, kTypeLong, counts)
      .Tag(kTagYResolution, kTypeRational, {196, 1});
  return b.Build();
}

// Reads every row of page `index`; the error of the first failing step, else 0.
int ReadAllRows(const std::vector<uint8_t>& file, MonoBitmap& out, std::size_t index = 0,
                unsigned kinds = kRowsAll, uint32_t* damaged = nullptr) {
  TiffFile tiff;
  if (int rc = tiff.parse(file); rc < 0) return rc;
  TiffPage page;
  if (int rc = tiff.readPage(index, page); rc < 0) return rc;
  TiffRowReader rows;
  if (int rc = rows.Open(file, page, kinds); rc < 0) return rc;
  std::vector<uint8_t> row(page.bytesPerRow());
  std::vector<std::vector<uint8_t>> all;
  int rc;
  while ((rc = rows.ReadRow(row.data())) == 1) all.push_back(row);
  if (rc < 0) return rc;
  if (damaged) *damaged = rows.DamagedRows();
  out = MonoBitmap(int(page.width), int(all.size()));
  for (std::size_t y = 0; y < all.size(); ++y) std::memcpy(out.Row(int(y)), all[y].data(), all[y].size());
  return 0;
}

TEST(TiffReader, ReadsBilevelPagesInEveryStoredForm) {
  const MonoBitmap want = Sample();
  for (bool big : {false, true})
    for (uint16_t compression : {kCompressionNone, kCompressionPackBits})
      for (uint32_t rps : {10u, 3u})
        for (uint16_t photometric : {0, 1})
          for (uint16_t fill : {1, 2}) {
            const StoredForm form{big, compression, rps, photometric, fill};
            SCOPED_TRACE(testing::Message() << "big " << big << " compression " << compression << " rps "
                                            << rps << " photometric " << photometric << " fill " << fill);
            MonoBitmap got;
            ASSERT_EQ(ReadAllRows(StorePage(want, form), got), 0);
            EXPECT_EQ(got, want);
          }
}

TEST(TiffReader, ReadsPageFieldsAndEveryPageOfAChain) {
  TiffBuilder b(true);
  const uint32_t data = b.AddData(std::vector<uint8_t>(8, 0));
  for (uint32_t p = 0; p < 3; ++p) {
    if (p) b.NextPage();
    b.Tag(kTagImageWidth, kTypeLong, {1728})
        .Tag(kTagImageLength, kTypeShort, {p + 1})
        .Tag(kTagStripOffsets, kTypeLong, {data})
        .Tag(kTagStripByteCounts, kTypeLong, {8})
        .Tag(kTagCompression, kTypeShort, {kCompressionG3})
        .Tag(kTagT4Options, kTypeLong, {4})
        .Tag(kTagResolutionUnit, kTypeShort, {3})
        .Tag(kTagYResolution, kTypeRational, {385, 5});
  }
  const auto file = b.Build();
  TiffFile tiff;
  ASSERT_EQ(tiff.parse(file), 0);
  ASSERT_EQ(tiff.pageCount(), 3u);
  TiffPage page;
  ASSERT_EQ(tiff.readPage(2, page), 0);
  EXPECT_EQ(page.width, 1728u);
  EXPECT_EQ(page.length, 3u);
  EXPECT_EQ(page.rows_per_strip, 3u);  // absent: the whole page is one strip
  EXPECT_EQ(page.compression, kCompressionG3);
  EXPECT_EQ(page.t4_options, 4u);
  EXPECT_NEAR(page.y_dpi, 195.58, 0.01);  // 77 lines per centimetre
  EXPECT_EQ(tiff.readPage(3, page), kErrBadGraphicsFormat);
}

// A valid little-endian page (width 16, 2 rows, one uncompressed strip) and
// byte-level damage done to it; each damaged file must be refused cleanly.
TEST(TiffReader, RefusesCorruptFiles) {
  auto base = [](auto&& edit) {
    TiffBuilder b(false);
    const uint32_t data = b.AddData({0xF0, 0x0F, 0xAA, 0x55});
    b.Tag(kTagImageWidth, kTypeShort, {16})
        .Tag(kTagImageLength, kTypeShort, {2})
        .Tag(kTagStripOffsets, kTypeLong, {data})
        .Tag(kTagStripByteCounts, kTypeLong, {4});
    edit(b);
    return b.Build();
  };
  auto same = [](TiffBuilder&) {};
  const auto good = base(same);
  MonoBitmap bm;
  ASSERT_EQ(ReadAllRows(good, bm), 0);
  ASSERT_EQ(bm.height, 2);

  // The IFD starts at 12 (8-byte header + 4 data bytes); its entries at 14.
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  };
  auto patched = [&](std::size_t at, std::vector<uint8_t> bytes) {
    auto f = good;
    std::memcpy(f.data() + at, bytes.data(), bytes.size());
    return f;
  };
  auto truncated = [&](std::size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + n); };
  const Case cases[] = {
      {"empty", {}},
      {"bad byte order mark", patched(0, {'I', 'M'})},
      {"not 42", patched(2, {43, 0})},
      {"first IFD past the end", patched(4, {0xF0, 0xFF, 0, 0})},
      {"first IFD inside the header", patched(4, {4, 0, 0, 0})},
      {"IFD cut short", truncated(good.size() - 1)},
      {"entry count past the end", patched(12, {0xFF, 0x7F})},
      {"zero entries", patched(12, {0, 0})},
      {"IFD chain loops", patched(12 + 2 + 4 * 12, {12, 0, 0, 0})},
      {"next IFD past the end", patched(12 + 2 + 4 * 12, {0, 0, 0, 1})},
      {"missing width", base([](TiffBuilder& b) { b.Drop(kTagImageWidth); })},
      {"zero width", base([](TiffBuilder& b) { b.Tag(kTagImageWidth, kTypeShort, {0}); })},
      {"missing length", base([](TiffBuilder& b) { b.Drop(kTagImageLength); })},
      {"missing strip offsets", base([](TiffBuilder& b) { b.Drop(kTagStripOffsets); })},
      {"strip past the end", base([](TiffBuilder& b) { b.Tag(kTagStripOffsets, kTypeLong, {0xFFFFFFF0}); })},
      {"strip count past the end", base([](TiffBuilder& b) { b.Tag(kTagStripByteCounts, kTypeLong, {400}); })},
      {"fewer strips than rows need",
       base([](TiffBuilder& b) { b.Tag(kTagRowsPerStrip, kTypeShort, {1}); })},
      {"value array past the end", patched(14 + 2 * 12 + 4, {0, 0, 0, 1})},
      {"width as text", base([](TiffBuilder& b) { b.Tag(kTagImageWidth, kTypeAscii, {'1', '6', 0}); })},
      {"2 bits per sample", base([](TiffBuilder& b) { b.Tag(kTagBitsPerSample, kTypeShort, {2}); })},
      {"3 samples per pixel", base([](TiffBuilder& b) { b.Tag(kTagSamplesPerPixel, kTypeShort, {3}); })},
      {"palette photometric", base([](TiffBuilder& b) { b.Tag(kTagPhotometric, kTypeShort, {3}); })},
      {"G4 compression", base([](TiffBuilder& b) { b.Tag(kTagCompression, kTypeShort, {4}); })},
      {"2-D G3", base([](TiffBuilder& b) {
         b.Tag(kTagCompression, kTypeShort, {3}).Tag(kTagT4Options, kTypeLong, {1});
       })},
      {"uncompressed strip shorter than its rows",
       base([](TiffBuilder& b) { b.Tag(kTagStripByteCounts, kTypeLong, {3}); })},
      {"PackBits strip ends inside a run", base([](TiffBuilder& b) {
         b.Tag(kTagCompression, kTypeShort, {kCompressionPackBits}).Tag(kTagStripByteCounts, kTypeLong, {1});
       })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MonoBitmap out;
    EXPECT_EQ(ReadAllRows(c.file, out), kErrBadGraphicsFormat);
  }
}

TEST(TiffReader, RowsOfStrictKindsOnly) {
  const auto file = StorePage(Sample(), {false, kCompressionPackBits, 10, 0, 1});
  MonoBitmap out;
  EXPECT_EQ(ReadAllRows(file, out, 0, kRowsUncompressed | kRowsG3), kErrBadGraphicsFormat);
  EXPECT_EQ(ReadAllRows(file, out, 0, kRowsPackBits), 0);
}

TEST(TiffPackBits, KnownVectorAndRoundTrips) {
  // The classic example: literal, repeat and no-op headers mixed.
  const std::vector<uint8_t> packed = {0xFE, 0xAA, 0x02, 0x80, 0x00, 0x2A, 0xFD, 0xAA, 0x03, 0x80,
                                       0x00, 0x2A, 0x22, 0x80, 0xF7, 0xAA};
  const std::vector<uint8_t> raw = {0xAA, 0xAA, 0xAA, 0x80, 0x00, 0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x80, 0x00,
                                    0x2A, 0x22, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  std::vector<uint8_t> out;
  ASSERT_TRUE(PackBitsDecode(packed, out, 1000));
  EXPECT_EQ(out, raw);
  EXPECT_FALSE(PackBitsDecode(packed, out, raw.size() - 1));  // bounded output
  EXPECT_FALSE(PackBitsDecode(std::vector<uint8_t>{0x05, 1, 2}, out, 1000));     // literal cut short

  std::vector<uint8_t> mixed;
  for (int len = 1; len <= 300; len += 37) {
    mixed.insert(mixed.end(), std::size_t(len), uint8_t(len));
    for (int i = 0; i < len; ++i) mixed.push_back(uint8_t(i * 13));
  }
  for (const auto& sample : {std::vector<uint8_t>{}, std::vector<uint8_t>{9}, mixed}) {
    ASSERT_TRUE(PackBitsDecode(PackBitsEncode(sample), out, sample.size()));
    EXPECT_EQ(out, sample);
  }
}

// G3 pages read back through our own row reader; clean data has no damaged row.
std::vector<MonoBitmap> ReadPagesBack(const std::vector<uint8_t>& file) {
  TiffFile tiff;
  EXPECT_EQ(tiff.parse(file), 0);
  std::vector<MonoBitmap> pages;
  for (std::size_t i = 0; i < tiff.pageCount(); ++i) {
    MonoBitmap bm;
    uint32_t damaged = 99;
    EXPECT_EQ(ReadAllRows(file, bm, i, kRowsG3, &damaged), 0);
    EXPECT_EQ(damaged, 0u) << "page " << i;
    pages.push_back(bm);
  }
  return pages;
}

std::vector<uint8_t> WriteClassF(const std::vector<testpages::NamedPage>& pages, int fill_order) {
  TiffFaxWriter writer(fill_order);
  for (const auto& p : pages) {
    writer.BeginPage(p.page.width, true);
    for (int y = 0; y < p.page.height; ++y) writer.AddLine(p.page.Row(y));
    writer.EndPage();
  }
  return writer.Finish();
}

TEST(TiffClassF, PagesReadBackExactly) {
  auto pages = testpages::VariedPages();
  pages.push_back({"alternating from black", testpages::AlternatingPage(1728, 4, true)});
  for (int fill : {1, 2}) {
    SCOPED_TRACE(fill);
    const auto back = ReadPagesBack(WriteClassF(pages, fill));
    ASSERT_EQ(back.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(back[i], pages[i].page) << pages[i].name;
  }
}

TEST(TiffG3Rows, DamagedDataStaysBoundedAndResynchronises) {
  // Row 2 of three white rows gets a bad code (eight zeros then a one bit is
  // no code of either colour and no EOL); rows 1 and 3 survive.
  TiffFaxWriter writer(2);
  const std::vector<uint8_t> white(216, 0), black(216, 0xFF);
  writer.BeginPage(1728, false);
  writer.AddLine(black.data());
  writer.AddLine(white.data());
  writer.AddLine(black.data());
  auto file = writer.Finish();
  TiffFile tiff;
  ASSERT_EQ(tiff.parse(file), 0);
  TiffPage page;
  ASSERT_EQ(tiff.readPage(0, page), 0);
  // White row: EOL 00 80, make-up 1728 and terminating 0: B2 59 01, then 00.
  std::vector<uint8_t> strip(file.begin() + page.strip_offsets[0],
                             file.begin() + page.strip_offsets[0] + page.strip_byte_counts[0]);
  const std::vector<uint8_t> white_code = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  auto at = std::search(strip.begin(), strip.end(), white_code.begin(), white_code.end());
  ASSERT_NE(at, strip.end());
  file[page.strip_offsets[0] + (at - strip.begin()) + 2] = 0x00;  // 8 zero bits
  file[page.strip_offsets[0] + (at - strip.begin()) + 3] = 0x01;  // then a one
  TiffRowReader rows;
  ASSERT_EQ(rows.Open(file, page), 0);
  std::vector<uint8_t> row(216);
  ASSERT_EQ(rows.ReadRow(row.data()), 1);
  EXPECT_EQ(row, black);
  ASSERT_EQ(rows.ReadRow(row.data()), 1);
  EXPECT_EQ(row, white);
  ASSERT_EQ(rows.ReadRow(row.data()), 1);
  EXPECT_EQ(row, black);
  EXPECT_EQ(rows.ReadRow(row.data()), 0);
  EXPECT_EQ(rows.DamagedRows(), 1u);

  // A header that claims four billion rows over the same few bytes ends
  // where the data ends.
  TiffBuilder b(false);
  const uint32_t data = b.AddData(strip);
  b.Tag(kTagImageWidth, kTypeShort, {1728})
      .Tag(kTagImageLength, kTypeLong, {0xFFFFFFFF})
      .Tag(kTagCompression, kTypeShort, {kCompressionG3})
      .Tag(kTagFillOrder, kTypeShort, {2})
      .Tag(kTagStripOffsets, kTypeLong, {data})
      .Tag(kTagStripByteCounts, kTypeLong, {uint32_t(strip.size())});
  MonoBitmap out;
  ASSERT_EQ(ReadAllRows(b.Build(), out), 0);
  EXPECT_EQ(out.height, 3);
}

// The converter's TIFF input: the first page only, and nothing wider than
// the coded line.
TEST(TiffInput, ConvertsTheFirstPageAndRefusesTooWideImages) {
  auto convert = [](const std::vector<uint8_t>& tiff, unsigned& pages) {
    char dir[] = "/tmp/veltrane-tiffin-XXXXXX";
    EXPECT_NE(::mkdtemp(dir), nullptr);
    const std::string in = std::string(dir) + "/in.tif", out = std::string(dir) + "/in.APF";
    std::FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(tiff.data(), 1, tiff.size(), f);
    std::fclose(f);
    TFaxConverter converter;
    converter.SetInputDocumentType(TFaxInputDocumentType::idTiff);
    converter.SetDocumentFile(in);
    int code = 0;
    try {
      converter.ConvertToApf();
      ApfFileHeader header;
      EXPECT_EQ(ReadFaxHeader(out, header), 0);
      pages = header.PageCount;
    } catch (const EBadGraphicsFormat& e) {
      code = e.Code();
      EXPECT_STREQ(e.what(), "Unsupported graphics file format");
      EXPECT_NE(::access(out.c_str(), F_OK), 0);  // no output left behind
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    ::rmdir(dir);
    return code;
  };
  unsigned pages = 0;
  TiffBuilder two(false);
  const uint32_t data = two.AddData(std::vector<uint8_t>(4 * 216, 0x81));
  for (int p = 0; p < 2; ++p) {
    if (p) two.NextPage();
    two.Tag(kTagImageWidth, kTypeShort, {1728})
        .Tag(kTagImageLength, kTypeShort, {4})
        .Tag(kTagStripOffsets, kTypeLong, {data})
        .Tag(kTagStripByteCounts, kTypeLong, {4 * 216});
  }
  EXPECT_EQ(convert(two.Build(), pages), 0);
  EXPECT_EQ(pages, 1u);

  TiffBuilder wide(true);
  const uint32_t wide_data = wide.AddData(std::vector<uint8_t>(217, 0));
  wide.Tag(kTagImageWidth, kTypeShort, {1729})
      .Tag(kTagImageLength, kTypeShort, {1})
      .Tag(kTagStripOffsets, kTypeLong, {wide_data});
  EXPECT_EQ(convert(wide.Build(), pages), kErrBadGraphicsFormat);
  // The G3 pages of the import are not an input kind of the converter.
  EXPECT_EQ(convert(WriteClassF({{"text", testpages::TextPage(1728, 4)}}, 1), pages), kErrBadGraphicsFormat);
}

#ifdef VELTRANE_HAVE_LIBTIFF

class TempFile {
 public:
  TempFile() {
    char name[] = "/tmp/veltrane-tiff-XXXXXX";
    int fd = ::mkstemp(name);
    ::close(fd);
    path_ = name;
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

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
      if (TIFFReadScanline(tif, bm.Row(int(y)), y) < 0) return {};
    pages.push_back(bm);
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

std::vector<uint8_t> Slurp(const std::string& path) {
  std::vector<uint8_t> out;
  EXPECT_EQ(ReadWholeFile(path, out), 0);
  return out;
}

TEST(TiffLibtiffPeer, DecodesOurClassFPagesExactly) {
  const auto pages = testpages::VariedPages();
  for (int fill : {1, 2}) {
    SCOPED_TRACE(fill);
    TempFile tmp;
    TiffFaxWriter writer(fill);
    for (const auto& p : pages) {
      writer.BeginPage(p.page.width, p.name != "text");
      for (int y = 0; y < p.page.height; ++y) writer.AddLine(p.page.Row(y));
      writer.EndPage();
    }
    ASSERT_EQ(writer.WriteFile(tmp.path()), 0);
    const auto back = DecodeWithLibtiff(tmp.path());
    ASSERT_EQ(back.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(back[i], pages[i].page) << pages[i].name;

    // The fields other fax software looks at.
    TIFF* tif = TIFFOpen(tmp.path().c_str(), "r");
    ASSERT_NE(tif, nullptr);
    float xres = 0, yres = 0;
    uint16_t page = 9, total = 9, fill_order = 0;
    uint32_t subfile = 0, t4 = 9;
    char* software = nullptr;
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres));
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres));
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_PAGENUMBER, &page, &total));
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile));
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &t4));
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_FILLORDER, &fill_order));
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_SOFTWARE, &software));
    EXPECT_EQ(xres, 204.f);
    EXPECT_EQ(yres, 98.f);  // the text page is at normal resolution
    EXPECT_EQ(page, 0);
    EXPECT_EQ(total, pages.size());
    EXPECT_EQ(subfile, uint32_t(FILETYPE_PAGE));
    EXPECT_EQ(t4, uint32_t(GROUP3OPT_FILLBITS));
    EXPECT_EQ(fill_order, fill);
    EXPECT_STREQ(software, "Veltrane");
    ASSERT_TRUE(TIFFSetDirectory(tif, 1));
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres));
    EXPECT_EQ(yres, 196.f);
    TIFFClose(tif);
  }
}

// G3 written by libtiff in its variants, and TIFF Compression 2 (MH rows
// without EOLs, each on a byte boundary).
TEST(TiffLibtiffPeer, ReadsG3WrittenByLibtiffExactly) {
  const auto pages = testpages::VariedPages();
  struct Form {
    uint16_t compression;
    uint16_t fill;
    uint32_t t4_options;
    uint32_t rows_per_strip;
  };
  const Form forms[] = {
      {COMPRESSION_CCITTFAX3, 1, 0, 0},  {COMPRESSION_CCITTFAX3, 2, GROUP3OPT_FILLBITS, 0},
      {COMPRESSION_CCITTFAX3, 2, 0, 7},  {COMPRESSION_CCITTFAX3, 1, GROUP3OPT_FILLBITS, 64},
      {COMPRESSION_CCITTRLE, 1, 0, 0},   {COMPRESSION_CCITTRLE, 2, 0, 5},  // MH rows without EOLs
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(testing::Message() << "compression " << form.compression << " fill " << form.fill << " t4 "
                                    << form.t4_options << " rps " << form.rows_per_strip);
    TempFile tmp;
    TIFF* tif = TIFFOpen(tmp.path().c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (const auto& p : pages) {
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.page.width));
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.page.height));
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(tif, TIFFTAG_COMPRESSION, form.compression);
      if (form.compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, form.t4_options);
      TIFFSetField(tif, TIFFTAG_FILLORDER, form.fill);
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                   form.rows_per_strip ? form.rows_per_strip : uint32_t(p.page.height));
      for (int y = 0; y < p.page.height; ++y)
        ASSERT_EQ(TIFFWriteScanline(tif, const_cast<uint8_t*>(p.page.Row(y)), uint32_t(y)), 1);
      TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    const auto theirs = DecodeWithLibtiff(tmp.path());
    const auto file = Slurp(tmp.path());
    const auto ours = ReadPagesBack(file);
    ASSERT_EQ(ours.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(ours[i], theirs[i]) << pages[i].name;
      EXPECT_EQ(ours[i], pages[i].page) << pages[i].name;
    }
  }
}

#endif  // VELTRANE_HAVE_LIBTIFF

}  // namespace
}  // namespace veltrane::imaging
