// APF files: the exact bytes the writer lays down, the reader's checks, and join.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "imaging/apf.h"
#include "imaging/imaging_errors.h"

namespace veltrane::imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

class ApfFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veltrane-apf-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  static Bytes Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void Spit(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  }
  // A file of `pages` pages, each holding `lines` copies of the white line record.
  std::string WriteFile(const char* name, int pages, int lines, std::string_view id, std::uint32_t stamp,
                        std::uint16_t flags = pfHighRes) {
    ApfWriter w;
    std::string path = Path(name);
    EXPECT_EQ(w.Open(path), 0);
    w.SetPageFlags(flags);
    const std::uint8_t white[] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
    for (int p = 0; p < pages; ++p) {
      for (int l = 0; l < lines; ++l) EXPECT_EQ(w.WriteLine(white, sizeof white), 0);
      EXPECT_EQ(w.EndPage(), 0);
    }
    EXPECT_EQ(w.Finish(id, stamp), 0);
    return path;
  }

  fs::path dir_;
};

TEST_F(ApfFileTest, WriterLaysDownExactBytes) {
  std::string path = WriteFile("one.apf", 1, 1, "VELTRANE", 0x12345678);
  Bytes b = Slurp(path);
  ASSERT_EQ(b.size(), 64u + 16 + 8 + 14);
  Bytes header(b.begin(), b.begin() + 64);
  Bytes expected(64, 0);
  const char sig[] = "APF10\x1A";
  std::copy(sig, sig + 6, expected.begin());
  expected[6] = 0x78, expected[7] = 0x56, expected[8] = 0x34, expected[9] = 0x12;
  expected[10] = 8;
  const char id[] = "VELTRANE            ";
  std::copy(id, id + 20, expected.begin() + 11);
  expected[32] = 1;   // PageCount
  expected[34] = 64;  // FirstPageOffset
  EXPECT_EQ(header, expected);
  EXPECT_EQ(Bytes(b.begin() + 64, b.begin() + 80),
            (Bytes{22, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));  // 8 + 14, flags 4|1
  EXPECT_EQ(Bytes(b.begin() + 80, b.begin() + 88), (Bytes{0x06, 0x00, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}));
  EXPECT_EQ(Bytes(b.begin() + 88, b.end()), Bytes(kApfEndOfPageRecord.begin(), kApfEndOfPageRecord.end()));
}

TEST_F(ApfFileTest, EmptyPageHasOnlyEndOfPageRecord) {
  std::string path = WriteFile("empty.apf", 1, 0, "", 0, pfWide);
  ApfPageHeader ph;
  ASSERT_EQ(ReadPageHeader(path, 1, ph), 0);
  EXPECT_EQ(ph.DataLength, 14u);
  EXPECT_EQ(ph.PageFlags, pfWide | pfLengthWords);
  EXPECT_EQ(Slurp(path).size(), 64u + 16 + 14);
}

TEST_F(ApfFileTest, SenderIdPadding) {
  struct Case {
    std::string id;
    std::uint8_t length;
    std::string field;
  };
  const Case cases[] = {
      {"", 0, std::string(20, ' ')},
      {"+1 555 0100", 11, "+1 555 0100         "},
      {"ABCDEFGHIJKLMNOPQRSTUVWXY", 20, "ABCDEFGHIJKLMNOPQRST"},
  };
  for (const Case& c : cases) {
    std::string path = WriteFile("id.apf", 1, 0, c.id, 0);
    ApfFileHeader h;
    ASSERT_EQ(ReadFaxHeader(path, h), 0);
    EXPECT_EQ(h.SenderIdLength, c.length) << c.id;
    EXPECT_EQ(std::string(h.SenderId.data(), 20), c.field) << c.id;
  }
}

TEST_F(ApfFileTest, TimeStampIsDosPacked) {
  EXPECT_EQ(DosTimeStamp(2026, 12, 11, 13, 5, 31), (((46u << 9) | (12u << 5) | 11u) << 16) | (13u << 11) | (5u << 5) | 15u);
  EXPECT_EQ(DosTimeStamp(1979, 12, 31, 0, 0, 0), 0u);
  EXPECT_EQ(DosTimeStamp(2100, 1, 1, 0, 0, 0), 0u);
}

TEST_F(ApfFileTest, LargeRecordsGoThroughTheBufferIntact) {
  // Records that straddle the 4096-byte buffer, one larger than the buffer
  // after a partial fill, and page headers fixed up behind flushed data.
  ApfWriter w;
  std::string path = Path("big.apf");
  ASSERT_EQ(w.Open(path), 0);
  Bytes expectedData;
  const std::size_t sizes[] = {4000, 4096, 3, 4096, 4096, 1};
  std::uint8_t seed = 1;
  for (std::size_t n : sizes) {
    Bytes rec(n);
    for (auto& x : rec) x = seed++;
    ASSERT_EQ(w.WriteLine(rec.data(), rec.size()), 0);
    expectedData.push_back(static_cast<std::uint8_t>(n));
    expectedData.push_back(static_cast<std::uint8_t>(n >> 8));
    expectedData.insert(expectedData.end(), rec.begin(), rec.end());
  }
  ASSERT_EQ(w.EndPage(), 0);
  ASSERT_EQ(w.EndPage(), 0);  // a second, empty page right behind
  ASSERT_EQ(w.Finish("", 0), 0);
  expectedData.insert(expectedData.end(), kApfEndOfPageRecord.begin(), kApfEndOfPageRecord.end());

  Bytes file = Slurp(path);
  ApfPageWalker walker;
  ASSERT_EQ(walker.Open(file), 0);
  ASSERT_EQ(walker.PageCount(), 2u);
  ApfPageView page;
  ASSERT_EQ(walker.Page(1, page), 0);
  EXPECT_EQ(Bytes(page.Data.begin(), page.Data.end()), expectedData);
  ASSERT_EQ(walker.Page(2, page), 0);
  EXPECT_EQ(page.Data.size(), 14u);
  EXPECT_EQ(w.WriteLine(expectedData.data(), 4097), kErrBadArgument);
}

TEST_F(ApfFileTest, ReaderErrors) {
  std::string two = WriteFile("two.apf", 2, 1, "", 0);
  ApfPageHeader ph;
  EXPECT_EQ(ReadPageHeader(two, 2, ph), 0);
  EXPECT_EQ(ReadPageHeader(two, 3, ph), kErrNotApf);
  ApfFileHeader h;
  EXPECT_EQ(ReadFaxHeader("", h), kErrFileNotFound);
  EXPECT_EQ(ReadFaxHeader(Path("missing.apf"), h), kErrFileNotFound);
  EXPECT_FALSE(IsApfFile(Path("missing.apf")));

  Bytes wrongEnd = Slurp(two);
  wrongEnd[5] = 0x1B;
  Spit(Path("sig.apf"), wrongEnd);
  EXPECT_FALSE(IsApfFile(Path("sig.apf")));
  EXPECT_EQ(ReadFaxHeader(Path("sig.apf"), h), kErrNotApf);
  EXPECT_TRUE(IsApfFile(two));

  Spit(Path("short.apf"), Bytes{'A', 'P', 'F'});
  EXPECT_FALSE(IsApfFile(Path("short.apf")));
  EXPECT_EQ(ReadFaxHeader(Path("short.apf"), h), kErrNotApf);
}

TEST_F(ApfFileTest, HostileHeadersGiveErrorsNotReads) {
  Bytes file = Slurp(WriteFile("two.apf", 2, 1, "", 0));
  ApfPageWalker walker;
  ApfPageView page;
  {
    Bytes b = file;  // DataLength of page 1 far beyond the file
    b[64] = 0xFF, b[65] = 0xFF, b[66] = 0xFF, b[67] = 0x7F;
    ASSERT_EQ(walker.Open(b), 0);
    EXPECT_EQ(walker.Page(1, page), kErrReadPastEnd);
    EXPECT_EQ(walker.Page(2, page), kErrReadPastEnd);
    Spit(Path("len.apf"), b);
    ApfPageHeader ph;
    EXPECT_EQ(ReadPageHeader(Path("len.apf"), 2, ph), kErrReadPastEnd);
  }
  {
    Bytes b = file;  // FirstPageOffset beyond the file, and a huge PageCount
    b[34] = 0xF0, b[35] = 0xFF, b[36] = 0xFF, b[37] = 0xFF;
    b[32] = 0xFF, b[33] = 0xFF;
    ASSERT_EQ(walker.Open(b), 0);
    EXPECT_EQ(walker.Page(65535, page), kErrReadPastEnd);
  }
  {
    Bytes b(file.begin(), file.begin() + 40);  // cut inside the header
    EXPECT_EQ(walker.Open(b), kErrNotApf);
  }
}

TEST_F(ApfFileTest, FirstPageOffsetIsHonoured) {
  Bytes file = Slurp(WriteFile("one.apf", 1, 1, "", 0));
  Bytes moved(file.begin(), file.begin() + 64);
  moved[34] = 100;
  moved.insert(moved.end(), 36, 0xEE);  // junk between header and first page
  moved.insert(moved.end(), file.begin() + 64, file.end());
  Spit(Path("moved.apf"), moved);
  ApfPageHeader ph;
  std::uint64_t dataOffset = 0;
  ASSERT_EQ(ReadPageHeader(Path("moved.apf"), 1, ph, &dataOffset), 0);
  EXPECT_EQ(ph.DataLength, 22u);
  EXPECT_EQ(dataOffset, 116u);
  ApfPageWalker walker;
  ApfPageView page;
  ASSERT_EQ(walker.Open(moved), 0);
  ASSERT_EQ(walker.Page(1, page), 0);
  EXPECT_EQ(page.Data.data(), moved.data() + 116);
}

TEST_F(ApfFileTest, JoinKeepsTargetIdentity) {
  std::string target = WriteFile("target.apf", 2, 1, "TARGET", 0x11111111);
  std::string source = WriteFile("source.apf", 1, 3, "SOURCE", 0x22222222, pfWide);
  Bytes before = Slurp(target);
  ASSERT_EQ(AppendFaxFile(target, source), 0);
  Bytes after = Slurp(target);
  ApfFileHeader h;
  ASSERT_EQ(ReadFaxHeader(target, h), 0);
  EXPECT_EQ(h.PageCount, 3);
  EXPECT_EQ(h.SenderIdText(), "TARGET");
  EXPECT_EQ(h.TimeStamp, 0x11111111u);
  Bytes src = Slurp(source);
  EXPECT_EQ(Bytes(after.begin() + before.size(), after.end()), Bytes(src.begin() + 64, src.end()));
  ApfPageHeader ph;
  ASSERT_EQ(ReadPageHeader(target, 3, ph), 0);
  EXPECT_EQ(ph.PageFlags, pfWide | pfLengthWords);
  EXPECT_EQ(ph.DataLength, 3u * 8 + 14);

  EXPECT_EQ(AppendFaxFile(target, Path("missing.apf")), kErrFileNotFound);
  EXPECT_EQ(Slurp(target), after);
}

TEST_F(ApfFileTest, AbandonDeletesTheFile) {
  ApfWriter w;
  std::string path = Path("partial.apf");
  ASSERT_EQ(w.Open(path), 0);
  const std::uint8_t white[] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  ASSERT_EQ(w.WriteLine(white, sizeof white), 0);
  EXPECT_TRUE(fs::exists(path));
  w.Abandon();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(w.Open(Path("no-such-dir/x.apf")), kErrPathNotFound);
}

}  // namespace
}  // namespace veltrane::imaging
