// Frame-level pieces: the FCS, DLE transparency, station ids and the
// DIS/DCS capability bits, each checked against values fixed by the standards.
#include <gtest/gtest.h>

#include "modemsim/hdlc.h"
#include "modemsim/t30.h"

namespace veltrane::modemsim {
namespace {

TEST(Frames, FcsMatchesTheStandardCheckValueAndCatchesDamage) {
  const std::string check = "123456789";
  EXPECT_EQ(hdlcFcs(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0x906E);
  Bytes frame = makeFrame(fcf::DCS | 1, true, {0x00, 0x46, 0x78, 0x00});
  appendFcs(frame);
  EXPECT_TRUE(fcsValid(frame));
  for (std::size_t i = 0; i < frame.size(); ++i) {
    Bytes bad = frame;
    bad[i] ^= 0x01;
    EXPECT_FALSE(fcsValid(bad)) << i;
  }
  EXPECT_FALSE(fcsValid(Bytes{0xFF, 0x13}));
}

TEST(Frames, DleStuffingRoundTrips) {
  const Bytes data{0x10, 0x00, 0x10, 0x10, 0x03, 0xFF};
  Bytes stuffed;
  appendDleStuffed(stuffed, data.data(), data.size());
  EXPECT_EQ(stuffed, (Bytes{0x10, 0x10, 0x00, 0x10, 0x10, 0x10, 0x10, 0x03, 0xFF}));
  stuffed.push_back(kDle);
  stuffed.push_back(kEtx);
  DleDecoder d;
  Bytes back;
  bool ended = false;
  for (auto b : stuffed) {
    auto ev = d.feed(b);
    if (ev == DleDecoder::Event::Byte) back.push_back(d.value());
    if (ev == DleDecoder::Event::Command && d.value() == kEtx) ended = true;
  }
  EXPECT_EQ(back, data);
  EXPECT_TRUE(ended);
}

TEST(Frames, StationIdIsRightAlignedAndReversed) {
  Bytes fif = encodeStationId("+1 555 1000");
  ASSERT_EQ(fif.size(), 20u);
  EXPECT_EQ(std::string(fif.begin(), fif.begin() + 11), "0001 555 1+");
  EXPECT_EQ(std::string(fif.begin() + 11, fif.end()), std::string(9, ' '));
  EXPECT_EQ(decodeStationId(fif), "+1 555 1000");
  // Control bytes from the line never reach a report or a file name.
  Bytes dirty = encodeStationId("AB");
  dirty[0] = 0x07;
  EXPECT_EQ(decodeStationId(dirty), "A");
}

TEST(Frames, CapabilityBitsFollowT30Table2) {
  struct Case {
    int bps;
    bool v17;
    std::uint8_t dcsByte2;  // without the receiver bit (2) and fine (64)
  };
  const Case kCases[] = {{2400, false, 0x00}, {4800, false, 0x08}, {7200, false, 0x0C},
                         {9600, false, 0x04}, {12000, true, 0x28}, {14400, true, 0x20}};
  for (const auto& c : kCases) {
    FaxCaps s;
    s.bps = c.bps;
    s.v17 = c.v17;
    s.fine = false;
    Bytes dcs = encodeDcs(s);
    EXPECT_EQ(dcs[1] & ~0x42, c.dcsByte2) << c.bps;
    EXPECT_EQ(decodeDcs(dcs).bps, c.bps);
  }
  FaxCaps caps;
  caps.bps = 9600;
  caps.v17 = false;
  caps.fine = true;
  caps.wide = true;
  Bytes dis = encodeDis(caps);
  EXPECT_EQ(dis[1], 2 + 4 + 8 + 64);  // receiver, V.29, V.27 ter, fine
  EXPECT_EQ(dis[2] & 0x03, 1);        // 255 mm
  FaxCaps back = decodeDis(dis);
  EXPECT_EQ(back.bps, 9600);
  EXPECT_TRUE(back.fine);
  EXPECT_TRUE(back.wide);
  EXPECT_EQ(decodeDis(encodeDis(FaxCaps{})).bps, 14400);
  // Minimum scan-line time: byte 3 bits 21-23.
  caps.scanTimeMs = 40;
  EXPECT_EQ(decodeDis(encodeDis(caps)).scanTimeMs, 40);
  caps.scanTimeMs = 20;
  EXPECT_EQ(encodeDis(caps)[2] & 0x70, 0x00);
}

TEST(Frames, ShortOrForeignFramesAreNotTakenForT30) {
  EXPECT_FALSE(parseFrame(Bytes{0xFF, 0x13}).wellFormed);
  EXPECT_FALSE(parseFrame(Bytes{0xFE, 0x13, 0x80}).wellFormed);
  FrameView f = parseFrame(Bytes{0xFF, 0x13, 0x83, 1, 2});
  EXPECT_TRUE(f.wellFormed && f.final);
  EXPECT_EQ(f.fcf, fcf::DCS);
  EXPECT_EQ(f.fif, (Bytes{1, 2}));
}

}  // namespace
}  // namespace veltrane::modemsim
