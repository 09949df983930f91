// The received file, the page data reader and the small receiving rules.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "faxengine/receive_file.h"
#include "faxengine/receive_page_reader.h"
#include "faxengine/receive_rules.h"
#include "imaging/apf.h"

namespace fs = std::filesystem;
using namespace veltrane::faxengine;
using veltrane::imaging::ApfFileHeader;
using veltrane::imaging::ApfPageView;
using veltrane::imaging::ApfPageWalker;

namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/rxtestXXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::vector<std::uint8_t> out;
  EXPECT_EQ(veltrane::imaging::ReadWholeFile(path, out), 0);
  return out;
}

// Feeds modem bytes through a reader into the file; returns the last step.
PageDataReader::Step FeedAll(PageDataReader& r, ReceivedFile& f, const std::vector<std::uint8_t>& in) {
  PageDataReader::Step s = PageDataReader::Step::More;
  for (std::uint8_t b : in) {
    s = r.Take(b, f);
    if (s != PageDataReader::Step::More) break;
  }
  return s;
}

}  // namespace

TEST(ReceivePageReader, UnstuffsDleAndStopsAtDleEtx) {
  TempDir dir;
  ReceivedFile f;
  ASSERT_EQ(f.Create(dir.File("a.apf"), "ID", 0), 0);
  ASSERT_EQ(f.BeginPage(0), 0);
  PageDataReader r(false);
  r.Reset();
  // DLE DLE is one 16, a DLE before 7 is dropped, DLE ETX ends; 9 is never read.
  EXPECT_EQ(FeedAll(r, f, {16, 16, 5, 16, 7, 16, 3, 9}), PageDataReader::Step::Complete);
  EXPECT_EQ(r.BytesTransferred(), 3);
  ASSERT_EQ(f.EndPage("ID", 0), 0);
  f.Close();
  auto bytes = ReadAll(dir.File("a.apf"));
  ASSERT_EQ(bytes.size(), 64u + 16u + 3u);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - 3, bytes.end()), (std::vector<std::uint8_t>{16, 5, 7}));
}

TEST(ReceivePageReader, StuffedDleDoesNotStartAnEscape) {
  // 16 16 3: the 3 follows a stuffed DLE, so it is data and the page goes on.
  TempDir dir;
  ReceivedFile f;
  ASSERT_EQ(f.Create(dir.File("a.apf"), "", 0), 0);
  ASSERT_EQ(f.BeginPage(0), 0);
  PageDataReader r;
  r.Reset();
  EXPECT_EQ(FeedAll(r, f, {16, 16, 3}), PageDataReader::Step::More);
  EXPECT_EQ(r.BytesTransferred(), 2);
  EXPECT_EQ(FeedAll(r, f, {16, 3}), PageDataReader::Step::Complete);
}

TEST(ReceivePageReader, BitOrderPerClass) {
  struct Case {
    bool reverse;  // Class 2 mirrors, Class 1 and 2.0 do not
    std::uint8_t in, stored;
  };
  for (const Case& c : {Case{true, 1, 128}, Case{false, 1, 1}, Case{true, 0x16, 0x68}, Case{true, 16, 8}}) {
    TempDir dir;
    ReceivedFile f;
    ASSERT_EQ(f.Create(dir.File("a.apf"), "", 0), 0);
    ASSERT_EQ(f.BeginPage(0), 0);
    PageDataReader r(c.reverse);
    r.Reset();
    std::vector<std::uint8_t> in{c.in};
    if (c.in == 16) in.push_back(16);  // a data DLE arrives stuffed
    in.insert(in.end(), {16, 3});
    ASSERT_EQ(FeedAll(r, f, in), PageDataReader::Step::Complete);
    ASSERT_EQ(f.EndPage("", 0), 0);
    f.Close();
    auto bytes = ReadAll(dir.File("a.apf"));
    ASSERT_EQ(bytes.size(), 81u);
    EXPECT_EQ(bytes[80], c.stored) << "in " << int(c.in) << " reverse " << c.reverse;
  }
}

TEST(ReceivePageReader, LongPageCrossesTheBufferAndKeepsEveryByte) {
  TempDir dir;
  ReceivedFile f;
  ASSERT_EQ(f.Create(dir.File("a.apf"), "", 0), 0);
  ASSERT_EQ(f.BeginPage(0), 0);
  PageDataReader r;
  r.Reset();
  std::vector<std::uint8_t> sent, in;
  for (int i = 0; i < 10000; ++i) {
    std::uint8_t b = static_cast<std::uint8_t>(i * 7);
    sent.push_back(b);
    in.push_back(b);
    if (b == 16) in.push_back(16);
  }
  in.insert(in.end(), {16, 3});
  ASSERT_EQ(FeedAll(r, f, in), PageDataReader::Step::Complete);
  ASSERT_EQ(f.EndPage("", 0), 0);
  f.Close();
  auto bytes = ReadAll(dir.File("a.apf"));
  ApfPageWalker w;
  ASSERT_EQ(w.Open(bytes), 0);
  ApfPageView page;
  ASSERT_EQ(w.Page(1, page), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(page.Data.begin(), page.Data.end()), sent);
}

TEST(ReceivedFileTest, LayoutAndHeaderUpdatesAtEveryPageEnd) {
  TempDir dir;
  const std::string path = dir.File("FAX0001.APF");
  ReceivedFile f;
  ASSERT_EQ(f.Create(path, "+49 30 1234", 0x11111111), 0);
  {
    auto bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 64u);
    ApfFileHeader h = veltrane::imaging::DecodeFileHeader(bytes.data());
    EXPECT_TRUE(h.HasSignature());
    EXPECT_EQ(h.SenderIdLength, 20);  // padded with spaces at creation
    EXPECT_EQ(std::string(h.SenderId.begin(), h.SenderId.end()), "+49 30 1234         ");
    EXPECT_EQ(h.PageCount, 0);
    EXPECT_EQ(h.FirstPageOffset, 64u);
    EXPECT_EQ(h.TimeStamp, 0x11111111u);
  }
  const std::uint8_t page1[] = {1, 2, 3, 4, 5};
  const std::uint8_t page2[] = {9, 8, 7};
  ASSERT_EQ(f.BeginPage(veltrane::imaging::pfHighRes | veltrane::imaging::pfWide), 0);
  ASSERT_EQ(f.Append(page1, sizeof page1), 0);
  ASSERT_EQ(f.EndPage("+49 30 1234", 0x22222222), 0);
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.Append(page2, sizeof page2), 0);
  ASSERT_EQ(f.EndPage("+49 30 1234", 0x33333333), 0);
  f.Close();

  auto bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 64u + 16 + 5 + 16 + 3);
  ApfPageWalker w;
  ASSERT_EQ(w.Open(bytes), 0);
  EXPECT_EQ(w.PageCount(), 2u);
  EXPECT_EQ(w.Header().SenderIdText(), "+49 30 1234");  // own length after a page
  EXPECT_EQ(w.Header().TimeStamp, 0x33333333u);
  ApfPageView p;
  ASSERT_EQ(w.Page(1, p), 0);
  EXPECT_EQ(p.PageFlags, 3);  // fine + wide, stream form
  EXPECT_EQ(p.Data.size(), 5u);
  ASSERT_EQ(w.Page(2, p), 0);
  EXPECT_EQ(p.PageFlags, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(p.Data.begin(), p.Data.end()), (std::vector<std::uint8_t>{9, 8, 7}));
}

TEST(ReceivedFileTest, FileLeftMidPageKeepsEveryCompletedPage) {
  // A writer that dies mid-page: nothing after the last EndPage is ever
  // flushed into the headers, and the completed pages must still read.
  TempDir dir;
  const std::string path = dir.File("FAX0001.APF");
  {
    ReceivedFile f;
    ASSERT_EQ(f.Create(path, "REMOTE", 0), 0);
    for (int page = 0; page < 2; ++page) {
      ASSERT_EQ(f.BeginPage(0), 0);
      std::vector<std::uint8_t> data(3000, static_cast<std::uint8_t>(page + 1));
      ASSERT_EQ(f.Append(data.data(), data.size()), 0);
      ASSERT_EQ(f.EndPage("REMOTE", 0), 0);
    }
    ASSERT_EQ(f.BeginPage(0), 0);
    std::vector<std::uint8_t> partial(1234, 0xEE);
    ASSERT_EQ(f.Append(partial.data(), partial.size()), 0);
    // no EndPage: the descriptor is simply dropped, as by a kill
  }
  auto bytes = ReadAll(path);
  ApfPageWalker w;
  ASSERT_EQ(w.Open(bytes), 0);
  ASSERT_EQ(w.PageCount(), 2u);
  for (unsigned n = 1; n <= 2; ++n) {
    ApfPageView p;
    ASSERT_EQ(w.Page(n, p), 0);
    ASSERT_EQ(p.Data.size(), 3000u);
    EXPECT_EQ(p.Data[0], n);
  }
}

TEST(ReceivedFileTest, DiscardedPageIsCutAndTheResentPageCountsOnce) {
  TempDir dir;
  const std::string path = dir.File("a.apf");
  ReceivedFile f;
  ASSERT_EQ(f.Create(path, "", 0), 0);
  const std::uint8_t good[] = {1, 1, 1};
  const std::uint8_t bad[] = {2, 2, 2, 2, 2, 2, 2};
  const std::uint8_t resent[] = {3, 3};
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.Append(good, 3), 0);
  ASSERT_EQ(f.EndPage("", 0), 0);
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.Append(bad, 7), 0);
  ASSERT_EQ(f.DiscardPage(), 0);
  EXPECT_EQ(fs::file_size(path), 64u + 16 + 3);
  ASSERT_EQ(f.BeginPage(0), 0);
  ASSERT_EQ(f.Append(resent, 2), 0);
  ASSERT_EQ(f.EndPage("", 0), 0);
  f.Close();
  auto bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 64u + 16 + 3 + 16 + 2);
  ApfPageWalker w;
  ASSERT_EQ(w.Open(bytes), 0);
  EXPECT_EQ(w.PageCount(), 2u);
  ApfPageView p;
  ASSERT_EQ(w.Page(2, p), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(p.Data.begin(), p.Data.end()), (std::vector<std::uint8_t>{3, 3}));
}

TEST(ReceivedFileTest, CapsBoundPageSizeAndPageCount) {
  TempDir dir;
  ReceivedFile f;
  ASSERT_EQ(f.Create(dir.File("a.apf"), "", 0), 0);
  ASSERT_EQ(f.BeginPage(0), 0);
  std::vector<std::uint8_t> block(1 << 20, 0);
  int rc = 0;
  for (int i = 0; i < 17 && rc == 0; ++i) rc = f.Append(block.data(), block.size());
  EXPECT_LT(rc, 0);
  EXPECT_EQ(f.PageBytes(), kMaxReceivedPageBytes);
  ASSERT_EQ(f.DiscardPage(), 0);
  for (int i = 0; i < kMaxReceivedPages; ++i) {
    ASSERT_EQ(f.BeginPage(0), 0);
    ASSERT_EQ(f.EndPage("", 0), 0);
  }
  EXPECT_LT(f.BeginPage(0), 0);
  EXPECT_EQ(f.PageCount(), kMaxReceivedPages);
}

TEST(ReceivedFileTest, CreateInMissingFolderFails) {
  ReceivedFile f;
  EXPECT_LT(f.Create("/nonexistent-dir-xyz/FAX0001.APF", "", 0), 0);
  EXPECT_FALSE(f.IsOpen());
}

TEST(ReceiveRules, TrainingCheck) {
  struct Case {
    long nonZero, total;
    bool ok;
  } cases[] = {{0, 1000, true}, {99, 1000, true}, {100, 1000, false}, {1000, 1000, false},
               {0, 0, false},  // DLE ETX straight away: no division by zero, no pass
               {0, 1, true}};
  for (const Case& c : cases) EXPECT_EQ(TcfAcceptable(c.nonZero, c.total), c.ok) << c.nonZero << "/" << c.total;
}

TEST(ReceiveRules, SequenceAndDateNamingSkipTakenFiles) {
  TempDir dir;
  std::ofstream(dir.File("FAX0001.APF")).put('x');
  std::ofstream(dir.File("FAX0002.APF")).put('x');
  fs::create_directory(dir.File("FAX0003.APF"));  // a folder does not take a name
  EXPECT_EQ(DefaultReceiveName(rnSequence, dir.Path(), "APF", 12, 11), dir.File("FAX0003.APF"));
  EXPECT_EQ(DefaultReceiveName(rnSequence, dir.Path() + "/", "APF", 12, 11), dir.Path() + "/FAX0003.APF");
  std::ofstream(dir.File("03070001.APF")).put('x');
  EXPECT_EQ(DefaultReceiveName(rnDate, dir.Path(), "APF", 3, 7), dir.File("03070002.APF"));
  EXPECT_EQ(DefaultReceiveName(rnFixed, dir.Path(), "APF", 3, 7), "noname.apf");
  EXPECT_EQ(DefaultReceiveName(rnSequence, "", "APF", 3, 7).substr(0, 3), "FAX");
}

TEST(ReceiveRules, StationIdsReachNoFileLogOrEventUnclean) {
  struct Case {
    std::string raw, clean;
  } cases[] = {
      {"  \"+49 30 1234\"  ", "+49 30 1234"},
      {"AB\x07" "CD\r\nEF", "AB CD  EF"},
      {"A\"B;rm -rf", "A B;rm -rf"},
      {std::string(200, 'X') + "\x1b[31m", std::string(20, 'X')},
      {"\x01\x02\x03", ""},
      {"ABC\xff\xfe" "D", "ABC  D"},
  };
  for (const Case& c : cases) {
    std::string got = CleanRemoteStationId(c.raw);
    EXPECT_EQ(got, c.clean);
    EXPECT_LE(got.size(), 20u);
    for (char ch : got) EXPECT_TRUE(ch >= 32 && ch <= 126 && ch != '"');
  }
}
