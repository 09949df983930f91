#include "imaging/fax_unpacker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "imaging/fax_exceptions.h"
#include "unpack_test_util.h"

namespace veltrane::imaging {
namespace {

using namespace unpacktest;

class TempApf {
 public:
  explicit TempApf(const std::vector<std::uint8_t>& bytes) {
    char name[] = "/tmp/veltrane-unpacker-XXXXXX.APF";
    const int fd = ::mkstemps(name, 4);
    path_ = name;
    if (fd >= 0) {
      if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) path_.clear();
      ::close(fd);
    }
  }
  ~TempApf() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Page 1: normal resolution, wide; page 2: high resolution; each with one
// black run and one white line.
std::vector<std::uint8_t> TwoPageFile() {
  return BuildApf({{pfWide, MhBits().Line({10, 6, 2032}).Line({2048}).Rtc().Bytes()},
                   {pfHighRes, MhBits().Line({10, 6, 1712}).Line({1728}).Rtc().Bytes()}});
}

TEST(FaxUnpacker, PagesAndFirstPageFlags) {
  TempApf file(TwoPageFile());
  TFaxUnpacker u;
  u.SetInFileName(file.Path());
  EXPECT_EQ(u.CountPages(), 2u);
  EXPECT_FALSE(u.FirstPageHighRes());
  EXPECT_TRUE(u.FirstPageWide());
  EXPECT_EQ(u.OutFileName, file.Path().substr(0, file.Path().size() - 4));
}

TEST(FaxUnpacker, PageToBitmapUsesTheDefaults) {
  TempApf file(TwoPageFile());
  TFaxUnpacker u;
  u.SetInFileName(file.Path());
  // Normal resolution doubles the height by default; high resolution does not.
  auto page1 = u.PageToBitmap(1);
  ASSERT_TRUE(page1);
  EXPECT_EQ(page1->height, 4);
  EXPECT_EQ(page1->width, 16);
  EXPECT_TRUE(page1->Pixel(10, 0));
  EXPECT_TRUE(page1->Pixel(15, 1));
  EXPECT_FALSE(page1->Pixel(9, 0));
  EXPECT_FALSE(page1->Pixel(10, 2));
  auto page2 = u.PageToBitmap(2);
  EXPECT_EQ(page2->height, 2);

  u.AutoScaleMode = TAutoScaleMode::asNone;
  EXPECT_EQ(u.PageToBitmap(1)->height, 2);
  u.Scaling = true;
  u.SetHorizMult(0);  // ignored
  u.SetVertMult(3);
  EXPECT_EQ(u.HorizMult(), 1);
  auto scaled = u.PageToBitmap(1);
  EXPECT_EQ(scaled->height, 6);
  EXPECT_EQ(scaled->width, 16);
}

TEST(FaxUnpacker, ErrorsRaiseTheirExceptions) {
  TFaxUnpacker u;
  u.SetInFileName("/tmp/veltrane-no-such-fax.apf");
  try {
    u.CountPages();
    FAIL() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  TempApf file(TwoPageFile());
  u.SetInFileName(file.Path());
  try {
    u.PageToBitmap(3);
    FAIL() << "no exception";
  } catch (const EFaxBadFormat& e) {
    EXPECT_STREQ(e.what(), "File is not an APF file");
  }
  u.WhitespaceCompression = true;
  u.WhitespaceFrom = 1;
  u.WhitespaceTo = 2;
  try {
    u.PageToBitmap(1);
    FAIL() << "no exception";
  } catch (const EBadArgument& e) {
    EXPECT_STREQ(e.what(), "Bad argument passed to function");
  }
  u.WhitespaceCompression = false;
  u.Options();
  u.YieldHook = [] { return kErrGotQuitMsg; };
  EXPECT_THROW(u.PageToBitmap(1), EGotQuitMsg);
  u.SetOptions(0);  // no yielding, no quit
  EXPECT_NO_THROW(u.PageToBitmap(1));
}

TEST(FaxUnpacker, LineEventsAbortAndHandlerExceptions) {
  TempApf file(TwoPageFile());
  TFaxUnpacker u;
  u.SetInFileName(file.Path());
  std::vector<int> lengths;
  u.OnOutputLine = [&](TCustomFaxUnpacker&, bool starting, bool ending, const std::uint8_t*,
                       int length, unsigned page) {
    EXPECT_FALSE(starting || ending);
    EXPECT_EQ(page, 2u);
    lengths.push_back(length);
  };
  std::vector<std::uint32_t> progress;
  u.OnStatus = [&](TCustomFaxUnpacker&, const std::string& name, unsigned, std::uint32_t done,
                   std::uint32_t) {
    EXPECT_EQ(name, file.Path());
    progress.push_back(done);
  };
  u.UnpackPage(2);
  EXPECT_EQ(lengths, (std::vector<int>{216, 216}));
  EXPECT_FALSE(progress.empty());

  // The bitmap decode does not fire line events.
  lengths.clear();
  u.PageToBitmap(2);
  EXPECT_TRUE(lengths.empty());

  // Adding uoAbort during a decode ends it with success.
  u.OnOutputLine = [&](TCustomFaxUnpacker& sender, bool, bool, const std::uint8_t*, int length,
                       unsigned) {
    lengths.push_back(length);
    sender.SetOptions(sender.Options() | uoAbort);
  };
  EXPECT_NO_THROW(u.UnpackPage(2));
  EXPECT_EQ(lengths.size(), 1u);

  // An exception in the handler ends the decode and is reported, not lost.
  u.SetOptions(uoYield);
  u.OnOutputLine = [](TCustomFaxUnpacker&, bool, bool, const std::uint8_t*, int, unsigned) {
    throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(u.UnpackPage(2), EFaxException);
}

}  // namespace
}  // namespace veltrane::imaging
