#include <gtest/gtest.h>

#include "faxengine/fax_engine.h"
#include "faxengine/send_engine.h"

namespace veltrane::faxengine {
namespace {

TEST(Class1Frames, DcsBytesBySpeedResolutionAndScanTime) {
  auto normal9600 = BuildDcs(4, false, false, 5);
  EXPECT_EQ(normal9600[1], 2 + 4);
  EXPECT_EQ(normal9600[2], 0 + 136);
  auto fine7200 = BuildDcs(3, true, false, 5);
  EXPECT_EQ(fine7200[1], 2 + 64 + 12);
  auto wide14400 = BuildDcs(6, false, true, 2);
  EXPECT_EQ(wide14400[1], 2 + 32);
  EXPECT_EQ(wide14400[2], 32 + 136 + 1);
  EXPECT_EQ(BuildDcs(5, true, false, 4)[2], 32 + 136);
  EXPECT_EQ(BuildDcs(5, false, false, 0)[1], 2 + 40);  // V.17 12000, not V.33
  EXPECT_EQ(BuildDcs(1, false, false, 0)[2], 112 + 136);
}

TEST(Class1Frames, DcsRateFieldSelectsSpeedAndModulation) {
  static const struct {
    uint8_t byte2;
    int index;
    std::string modulation;
  } kCases[] = {{2 + 0, 1, "24"},    {2 + 8, 2, "48"},     {2 + 12, 3, "72"},   {2 + 4, 4, "96"},
                {2 + 44, 3, "73"},   {2 + 36, 4, "97"},    {2 + 40, 5, "121"},  {2 + 64 + 32, 6, "145"},
                {2 + 16, 5, "121"}};
  for (const auto& c : kCases) {
    const DcsSpeed s = SpeedOfDcs(c.byte2);
    EXPECT_EQ(s.index, c.index) << int(c.byte2);
    EXPECT_EQ(s.modulation, c.modulation) << int(c.byte2);
  }
  for (int index = 1; index <= 6; ++index)  // what we send, we read back
    EXPECT_EQ(SpeedOfDcs(BuildDcs(index, false, false, 0)[1]).index, index);
}

TEST(Class1Frames, StationFieldIsPaddedThenReversed) {
  auto f = BuildStationField("12345678");
  EXPECT_EQ(std::string(f.begin(), f.end()), std::string(12, ' ') + "87654321");
}

TEST(Class1Frames, TrainingLengthAndScanLineTable) {
  EXPECT_EQ(TcfLength(14400), 2592u);
  EXPECT_EQ(TcfLength(2400), 432u);
  static const struct {
    uint8_t byte3;
    int code, normalMs, fineMs;
  } kCases[] = {{112, 0, 0, 0},   {16, 1, 5, 5},   {96, 2, 10, 5},  {32, 3, 10, 10},
                {48, 4, 20, 10},  {0, 5, 20, 20},  {80, 6, 40, 20}, {64, 7, 40, 40},
                {249, 0, 0, 0}};
  for (const auto& c : kCases) {
    EXPECT_EQ(ScanTimeCodeOf(c.byte3), c.code) << int(c.byte3);
    EXPECT_EQ(ScanLineMs(c.code, false), c.normalMs);
    EXPECT_EQ(ScanLineMs(c.code, true), c.fineMs);
  }
  // Code 5 at 9600 bit/s: 20 ms a line, 24 bytes.
  EXPECT_EQ(ScanLineMs(5, false) * 9600 / 8000, 24);
}

TEST(HeaderLine, PlaceholdersExpandOnce) {
  HeaderValues v;
  v.stationId = "STATION";
  v.title = "Offer";
  v.totalPages = 3;
  v.pageNumber = 2;
  static const struct {
    const char* line;
    const char* out;
  } kCases[] = {
      {"Page $P of $N", "Page 2 of 3"},
      {"Page $Pxyz of $N", "Page 2 of 3"},
      {"$i: $s", "STATION Offer"},  // "$i:" reaches up to the space
      {"$X gone", " gone"},
      {"cost $5", "cost $5"},
      {"$", "$"},
  };
  for (const auto& c : kCases) EXPECT_EQ(ExpandHeaderLine(c.line, v), c.out) << c.line;
  v.title = "$P";
  EXPECT_EQ(ExpandHeaderLine("$S", v), "$P");  // inserted text is not scanned again
  EXPECT_EQ(ExpandHeaderLine(std::string(300, 'a'), v).size(), 255u);
}

}  // namespace
}  // namespace veltrane::faxengine
