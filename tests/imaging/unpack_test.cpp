#include "imaging/unpack.h"

#include <gtest/gtest.h>

#include <random>

#include "imaging/imaging_errors.h"
#include "imaging/t4_codes.h"
#include "imaging/t4_decode.h"
#include "unpack_test_util.h"

namespace veltrane::imaging {
namespace {

using namespace unpacktest;

struct Decoded {
  int result = 0;
  CollectedLines out;
  std::uint32_t invalidCodes = 0;
};

Decoded Decode(const std::vector<std::uint8_t>& file, std::uint16_t flags = 0,
               int wsFrom = 0, int wsTo = 0, unsigned page = 1) {
  Decoded d;
  std::unique_ptr<UnpackerState> state;
  EXPECT_EQ(CreateUnpacker(state, nullptr, Collect(d.out)), 0);
  ClearUnpackerFlags(*state, 0xFFFF);
  SetUnpackerFlags(*state, flags);
  EXPECT_EQ(SetWhitespace(*state, wsFrom, wsTo), 0);
  d.result = DecodePage(*state, file, page);
  d.invalidCodes = state->invalidCodes;
  return d;
}

bool PixelOf(const std::vector<std::uint8_t>& line, int x) {
  return (line[x / 8] >> (7 - x % 8)) & 1;
}

// ---------------------------------------------------------------- code trees

TEST(CodeTree, EveryCodeReachesItsLeafAndElevenZerosLoop) {
  const T4CodeTables& t = T4Codes();
  for (bool black : {false, true}) {
    CodeTree tree;
    BuildCodeTree(black, tree);
    EXPECT_EQ(tree.nodeCount, 268) << black;
    auto walk = [&](T4Code c) {
      std::int32_t node = 0;
      for (int i = 0; i < c.length; ++i) {
        EXPECT_GE(tree.nodes[node].zero, 0) << "code passes through a leaf";
        node = (c.bits >> i) & 1 ? tree.nodes[node].one : tree.nodes[node].zero;
      }
      return tree.nodes[node];
    };
    const auto& term = black ? t.blackTerminating : t.whiteTerminating;
    const auto& makeUp = black ? t.blackMakeUp : t.whiteMakeUp;
    for (int run = 0; run < 64; ++run) {
      const CodeTreeNode leaf = walk(term[run]);
      EXPECT_EQ(leaf.zero, kRunLeaf);
      EXPECT_EQ(leaf.one, run);
    }
    for (int i = 1; i <= 40; ++i) {
      const CodeTreeNode leaf = walk(makeUp[i]);
      EXPECT_EQ(leaf.zero, kRunLeaf);
      EXPECT_EQ(leaf.one, i * 64);
    }
    EXPECT_EQ(walk(kT4Eol12).zero, kEolLeaf);
    std::int32_t node = 0;
    for (int i = 0; i < 11; ++i) node = tree.nodes[node].zero;
    EXPECT_EQ(node, 11);
    EXPECT_EQ(tree.nodes[11].zero, 11);
  }
}

// A second walker that only ever steps bit by bit must agree with the table
// steps on any input (the fuzz target does the same on arbitrary bytes).
TEST(T4Walker, TableStepsAgreeWithThePerBitWalk) {
  struct Keep : T4LineReceiver {
    std::vector<std::vector<std::uint8_t>> lines;
    bool Line(const std::uint8_t* l, int n) override {
      lines.emplace_back(l, l + n);
      return true;
    }
  };
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    // Mostly valid lines with damage sprinkled in, so both paths get exercised.
    MhBits bits;
    for (int line = 0; line < 4; ++line) {
      std::vector<int> runs;
      int left = round % 2 ? 2048 : 1728;
      while (left > 0) {
        int r = std::min<int>(left, rng() % (rng() % 4 == 0 ? 700 : 40));
        runs.push_back(r);
        left -= r;
      }
      bits.Line(runs);
      if (rng() % 3 == 0)
        for (int k = 0; k < 20; ++k) bits.Bit(rng() % 2);
    }
    std::vector<std::uint8_t> bytes = bits.Bytes();
    for (int k = 0; k < 8; ++k) bytes[rng() % bytes.size()] ^= static_cast<std::uint8_t>(rng());
    Keep fast, slow;
    T4Walker a(fast), b(slow, true);
    std::size_t offset = 0;
    while (offset < bytes.size()) {  // uneven chunks, as records come
      const std::size_t n = std::min<std::size_t>(1 + rng() % 50, bytes.size() - offset);
      const std::size_t usedA = a.Walk({bytes.data() + offset, n});
      const std::size_t usedB = b.Walk({bytes.data() + offset, n});
      ASSERT_EQ(usedA, usedB);
      if (usedA < n) break;
      offset += n;
    }
    ASSERT_EQ(fast.lines, slow.lines) << "round " << round;
    ASSERT_EQ(a.InvalidCodes(), b.InvalidCodes()) << "round " << round;
  }
}

// ---------------------------------------------------------------- lines

TEST(DecodePage, TheWritersAllWhiteRecordGivesOneWhiteLine) {
  std::vector<std::uint8_t> data = {0x06, 0x00, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  data.insert(data.end(), kApfEndOfPageRecord.begin(), kApfEndOfPageRecord.end());
  const Decoded d = Decode(BuildApf({{pfLengthWords, data}}));
  ASSERT_EQ(d.result, 0);
  ASSERT_EQ(d.out.lines.size(), 1u);
  EXPECT_EQ(d.out.lines[0], std::vector<std::uint8_t>(216, 0));
  EXPECT_EQ(d.invalidCodes, 0u);
}

TEST(DecodePage, EolsAndCodesOutsideLines) {
  struct Case {
    const char* name;
    MhBits bits;
    std::size_t lines;
  };
  const Case cases[] = {
      {"three EOLs end the page",
       MhBits().Line({1728}).Eol().Eol().Eol().Line({1728}).Rtc(), 1},
      {"two EOLs then a run do not",
       MhBits().Line({1728}).Eol().Line({1728}).Rtc(), 2},
      {"codes before the first EOL are ignored",
       MhBits().Run(100, false).Run(50, false).Run(7, false).Line({1728}).Rtc(), 1},
      {"twelve zero bits and a one are one EOL",
       MhBits().Bits("0000000000001").Run(1728, false).Rtc(), 1},
      {"long fill before an EOL",
       MhBits().Bits(std::string(40, '0') + "1").Run(1728, false).Bits("0000000").Rtc(), 1},
      {"a line without its EOL is dropped", MhBits().Line({1728}).Line({1728}), 1},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(StreamApf(c.bits));
    EXPECT_EQ(d.result, 0) << c.name;
    EXPECT_EQ(d.out.lines.size(), c.lines) << c.name;
  }
}

TEST(DecodePage, OnlyLinesOf1728Or2048PixelsAreKept) {
  struct Case {
    int pixels;
    int bytes;  // 0: dropped
  };
  static const Case kCases[] = {{1, 0},      {1727, 0},    {1728, 216}, {1729, 216}, {1735, 216},
                                {1736, 0},   {2047, 0},    {2048, 256}, {2055, 256}, {2056, 0},
                                {4096, 0}};
  for (const Case& c : kCases) {
    // White up to the last pixel, which is black.
    const Decoded d = Decode(StreamApf(MhBits().Line({c.pixels - 1, 1}).Rtc()));
    ASSERT_EQ(d.result, 0);
    if (c.bytes == 0) {
      EXPECT_TRUE(d.out.lines.empty()) << c.pixels;
      continue;
    }
    ASSERT_EQ(d.out.lines.size(), 1u) << c.pixels;
    const auto& line = d.out.lines[0];
    ASSERT_EQ(static_cast<int>(line.size()), c.bytes) << c.pixels;
    // The last pixel survives only when it ends a whole byte.
    const bool kept = c.pixels == c.bytes * 8;
    EXPECT_EQ(PixelOf(line, c.bytes * 8 - 1), kept) << c.pixels;
    EXPECT_FALSE(PixelOf(line, c.bytes * 8 - 2)) << c.pixels;
  }
}

TEST(DecodePage, RunsOverflowingTheLineBufferAreIgnored) {
  // White 2560, then a black 2560 that would pass the 4096-pixel buffer: it is
  // ignored and the 2560-pixel line dropped; the next line decodes normally.
  const Decoded d = Decode(StreamApf(
      MhBits().Eol().Run(2560, false).Run(2560, true).Line({2048}).Rtc()));
  ASSERT_EQ(d.result, 0);
  ASSERT_EQ(d.out.lines.size(), 1u);
  EXPECT_EQ(d.out.lines[0].size(), 256u);
}

TEST(DecodePage, InvalidCodesAreCountedAndDecodingResumesAtTheNextEol) {
  // 000000001 is no prefix of a white code: the walk dies at the 13th bit,
  // then ignores one bits.
  MhBits bits;
  bits.Eol().Run(300, false).Bits("0000000010000").Bits("1111");
  bits.Line({500, 28, 1200}).Rtc();
  const Decoded d = Decode(StreamApf(bits));
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.invalidCodes, 1u);
  ASSERT_EQ(d.out.lines.size(), 1u);
  EXPECT_TRUE(PixelOf(d.out.lines[0], 500));
  EXPECT_TRUE(PixelOf(d.out.lines[0], 527));
  EXPECT_FALSE(PixelOf(d.out.lines[0], 528));
}

// ---------------------------------------------------------------- output stage

TEST(DecodePage, BlankLineCompression) {
  auto page = [](int blanksBetween, int blanksAtEnd) {
    MhBits bits;
    bits.Line({800, 100, 828});
    for (int i = 0; i < blanksBetween; ++i) bits.Line({1728});
    bits.Line({800, 100, 828});
    for (int i = 0; i < blanksAtEnd; ++i) bits.Line({1728});
    return StreamApf(bits.Rtc());
  };
  struct Case {
    int between, atEnd, from, to;
    std::vector<int> lengths;  // of the lines output
  };
  const Case cases[] = {
      {10, 0, 4, 1, {216, 0, 216}},
      {3, 0, 4, 1, {216, 0, 0, 0, 216}},
      {4, 6, 4, 1, {216, 0, 216, 0}},
      {2, 5, 2, 2, {216, 0, 0, 216}},  // from = to: trailing blank lines dropped
      {2, 1, 0, 0, {216, 216, 216, 216, 216}},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(page(c.between, c.atEnd), 0, c.from, c.to);
    ASSERT_EQ(d.result, 0);
    std::vector<int> lengths;
    for (const auto& l : d.out.lines) lengths.push_back(static_cast<int>(l.size()));
    EXPECT_EQ(lengths, c.lengths) << c.between << " " << c.atEnd << " " << c.from << "/" << c.to;
  }
}

TEST(Unpacker, WhitespaceAndFlagArguments) {
  std::unique_ptr<UnpackerState> s;
  ASSERT_EQ(CreateUnpacker(s, nullptr, nullptr), 0);
  EXPECT_EQ(s->flags, ufYield | ufDoubleHeight);
  EXPECT_EQ(SetWhitespace(*s, 1, 2), kErrBadArgument);
  EXPECT_EQ(SetWhitespace(*s, 0, 1), kErrBadArgument);
  EXPECT_EQ(SetWhitespace(*s, 4, 1), 0);
  EXPECT_EQ(SetWhitespace(*s, 0, 0), 0);
  EXPECT_EQ(s->whitespaceFrom, 0);
  SetUnpackerFlags(*s, ufDoubleHeight | ufHalfWidth);
  EXPECT_EQ(s->flags, ufYield | ufDoubleHeight);
  SetUnpackerFlags(*s, ufHalfWidth);
  EXPECT_EQ(s->flags, ufYield | ufHalfWidth);
  ClearUnpackerFlags(*s, ufYield);
  EXPECT_EQ(s->flags, ufHalfWidth);
}

TEST(DecodePage, DoubleHeightAndHalfWidthApplyToNormalResolutionOnly) {
  // Black pixels 1 and 2 of 1728, and 1726: halving ORs pixel pairs.
  const MhBits bits = MhBits().Line({1, 2, 1723, 1, 1}).Line({1728}).Rtc();
  struct Case {
    std::uint16_t pageFlags, unpackFlags;
    std::size_t lines;
    int bytes;
  };
  const Case cases[] = {
      {0, 0, 2, 216},
      {0, ufDoubleHeight, 4, 216},
      {0, ufHalfWidth, 2, 108},
      {pfHighRes, ufDoubleHeight, 2, 216},
      {pfHighRes, ufHalfWidth, 2, 216},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(StreamApf(bits, c.pageFlags), c.unpackFlags);
    ASSERT_EQ(d.out.lines.size(), c.lines) << c.pageFlags << " " << c.unpackFlags;
    EXPECT_EQ(static_cast<int>(d.out.lines[0].size()), c.bytes);
    if (c.bytes == 108) {
      const auto& l = d.out.lines[0];
      EXPECT_TRUE(PixelOf(l, 0));
      EXPECT_TRUE(PixelOf(l, 1));
      EXPECT_FALSE(PixelOf(l, 2));
      EXPECT_TRUE(PixelOf(l, 863));
      EXPECT_EQ(d.out.lines[1], std::vector<std::uint8_t>(108, 0));
    }
  }
}

// ---------------------------------------------------------------- file and data errors

TEST(DecodePage, BadFilesFailWithTheirCode) {
  const std::vector<std::uint8_t> good = StreamApf(MhBits().Line({1728}).Rtc());
  std::vector<std::uint8_t> badSignature = good;
  badSignature[5] = 0x1B;
  std::vector<std::uint8_t> truncatedStream = good;
  truncatedStream.resize(truncatedStream.size() - 10);  // most of the RTC gone
  std::vector<std::uint8_t> record;
  AppendRecord(record, MhBits().Line({1728}).Bytes());
  std::vector<std::uint8_t> truncatedRecord = BuildApf({{pfLengthWords, record}});
  truncatedRecord.resize(truncatedRecord.size() - 1);
  // DataLength 0xFFFFFFF0 in a 100-byte file, no RTC to stop at.
  std::vector<std::uint8_t> hugeLength = StreamApf(MhBits().Line({1728}).Line({1728}));
  hugeLength[64] = 0xF0;
  hugeLength[65] = hugeLength[66] = hugeLength[67] = 0xFF;
  std::vector<std::uint8_t> manyPages = good;  // claims 65535 pages, holds one
  manyPages[32] = manyPages[33] = 0xFF;
  std::vector<std::uint8_t> offsetPastEnd = good;
  offsetPastEnd[34] = 0xFF;
  offsetPastEnd[37] = 0x7F;

  struct Case {
    const char* name;
    const std::vector<std::uint8_t>* file;
    unsigned page;
    int result;
  };
  const std::vector<std::uint8_t> tiny(10, 0);
  const Case cases[] = {
      {"good", &good, 1, 0},
      {"page 0 is page 1", &good, 0, 0},
      {"page beyond PageCount", &good, 2, kErrNotApf},
      {"bad signature", &badSignature, 1, kErrNotApf},
      {"shorter than a header", &tiny, 1, kErrNotApf},
      {"stream cut short", &truncatedStream, 1, kErrNotApf},
      {"record cut short", &truncatedRecord, 1, kErrNotApf},
      {"huge DataLength", &hugeLength, 1, kErrNotApf},
      {"missing page header", &manyPages, 2, kErrReadPastEnd},
      {"first page offset past the end", &offsetPastEnd, 1, kErrReadPastEnd},
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(*c.file, 0, 0, 0, c.page).result, c.result) << c.name;
}

TEST(DecodePage, MissingFileAndEmptyName) {
  std::unique_ptr<UnpackerState> s;
  ASSERT_EQ(CreateUnpacker(s, nullptr, nullptr), 0);
  EXPECT_EQ(DecodePage(*s, std::string("/etc/passwd/x.apf"), 1), kErrPathNotFound);
  EXPECT_EQ(DecodePage(*s, std::string(""), 1), kErrFileNotFound);
  EXPECT_EQ(DecodePage(*s, std::string("/tmp/veltrane-no-such-file.apf"), 1), kErrFileNotFound);
}

TEST(DecodePage, RecordLengthsAreBoundedByTheBlockAndThePage) {
  // A length word of 0xFFFF is read as 4096: the rest of the record is then
  // taken as the next length word. Nothing past DataLength is used.
  std::vector<std::uint8_t> data;
  AppendRecord(data, MhBits().Line({1728}).Bytes());
  std::vector<std::uint8_t> big(5000, 0xFF);  // ones: no code, no line
  data.push_back(0xFF);
  data.push_back(0xFF);
  data.insert(data.end(), big.begin(), big.end());
  AppendRecord(data, MhBits().Line({1728}).Rtc().Bytes());
  const Decoded d = Decode(BuildApf({{pfLengthWords, data}}));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.out.lines.size(), 1u);
}

TEST(DecodePage, LinesPerPageAreCapped) {
  // 40000 lines of 6 bytes: far more than any real page.
  std::vector<std::uint8_t> data;
  const std::vector<std::uint8_t> white = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  for (int i = 0; i < 40000; ++i) AppendRecord(data, white);
  data.insert(data.end(), kApfEndOfPageRecord.begin(), kApfEndOfPageRecord.end());
  const std::vector<std::uint8_t> file = BuildApf({{pfLengthWords, data}});
  const Decoded d = Decode(file);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.out.lines.size(), static_cast<std::size_t>(kMaxLinesPerPage));

  std::unique_ptr<UnpackerState> s;
  ASSERT_EQ(CreateUnpacker(s, nullptr, nullptr), 0);
  int w = 0, h = 0;
  MonoBitmap bmp;
  ASSERT_EQ(DecodePageToBitmap(*s, file, 1, false, w, h, bmp), 0);
  EXPECT_EQ(h, kMaxLinesPerPage);
}

// ---------------------------------------------------------------- hooks

TEST(DecodePage, AbortErrorsQuitAndProgress) {
  MhBits bits;
  for (int i = 0; i < 40; ++i) bits.Line({1728});
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 40; ++i) AppendRecord(data, MhBits().Line({1728}).Bytes());
  data.insert(data.end(), kApfEndOfPageRecord.begin(), kApfEndOfPageRecord.end());
  const std::vector<std::uint8_t> file = BuildApf({{pfLengthWords | pfHighRes, data}});

  int seen = 0;
  std::unique_ptr<UnpackerState> s;
  ASSERT_EQ(CreateUnpacker(s, nullptr, [&](UnpackerState& st, int, const std::uint8_t*, int) {
              if (++seen == 3) st.flags |= ufAbort;
              return 0;
            }), 0);
  EXPECT_EQ(DecodePage(*s, file, 1), 0);
  EXPECT_EQ(seen, 3);

  seen = 0;
  s->outputSink = [&](UnpackerState&, int, const std::uint8_t*, int) { return ++seen == 5 ? -42 : 0; };
  s->flags = 0;
  EXPECT_EQ(DecodePage(*s, file, 1), -42);
  EXPECT_EQ(seen, 5);

  s->outputSink = nullptr;
  s->flags = ufYield;
  s->yieldHook = [] { return kErrGotQuitMsg; };
  EXPECT_EQ(DecodePage(*s, file, 1), kErrGotQuitMsg);

  s->yieldHook = nullptr;
  std::uint32_t last = 0, total = 0, reports = 0;
  s->statusHook = [&](const std::string&, unsigned page, std::uint32_t done, std::uint32_t all) {
    EXPECT_EQ(page, 1u);
    EXPECT_LE(done, all);
    EXPECT_GE(done, last);
    last = done;
    total = all;
    ++reports;
  };
  EXPECT_EQ(DecodePage(*s, file, 1), 0);
  EXPECT_GT(reports, 1u);
  EXPECT_EQ(total, data.size());
  EXPECT_EQ(last, data.size());
}

// ---------------------------------------------------------------- bitmaps

struct BitmapResult {
  int result = 0, width = 0, height = 0;
  MonoBitmap bitmap;
};

BitmapResult ToBitmap(const std::vector<std::uint8_t>& file, bool invert, std::uint16_t flags = 0,
                      std::array<int, 4> scaling = {1, 1, 1, 1}) {
  BitmapResult r;
  std::unique_ptr<UnpackerState> s;
  EXPECT_EQ(CreateUnpacker(s, nullptr, nullptr), 0);
  ClearUnpackerFlags(*s, 0xFFFF);
  SetUnpackerFlags(*s, flags);
  SetScaling(*s, scaling[0], scaling[1], scaling[2], scaling[3]);
  r.result = DecodePageToBitmap(*s, file, 1, invert, r.width, r.height, r.bitmap);
  EXPECT_FALSE(s->invert);
  EXPECT_EQ(s->outputSink, nullptr);
  return r;
}

TEST(DecodePageToBitmap, WidthFollowsTheRightmostInk) {
  struct Case {
    std::vector<int> runs;  // of the middle line
    int width;
  };
  const Case cases[] = {
      {{1728}, 16},               // all white: the minimum of one byte, made even
      {{3, 1, 1724}, 16},
      {{999, 1, 728}, 1008},      // ink in byte 124: 125 bytes, rounded up to 126
      {{1727, 1}, 1728},
  };
  for (bool invert : {false, true}) {
    for (const Case& c : cases) {
      const auto file = StreamApf(MhBits().Line({1728}).Line(c.runs).Line({1728}).Rtc());
      const BitmapResult r = ToBitmap(file, invert);
      ASSERT_EQ(r.result, 0);
      EXPECT_EQ(r.width, c.width) << invert;
      EXPECT_EQ(r.height, 3);
      ASSERT_EQ(r.bitmap.width, c.width);
      // Only the ink is black, including the padding byte of an odd width.
      int black = 0;
      for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) black += r.bitmap.Pixel(x, y) != invert;
      int expected = c.runs.size() > 1 ? c.runs[1] : 0;
      EXPECT_EQ(black, expected) << c.width << " " << invert;
    }
  }
}

TEST(DecodePageToBitmap, PagesWithoutLinesGiveNoBitmap) {
  const BitmapResult r = ToBitmap(StreamApf(MhBits().Rtc()), true);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.width, 0);
  EXPECT_EQ(r.height, 0);
  EXPECT_TRUE(r.bitmap.Empty());
}

TEST(DecodePageToBitmap, WideLinesOnANormalPageAreCut) {
  const auto file = StreamApf(MhBits().Line({2040, 8}).Line({100, 100, 1528}).Rtc());
  const BitmapResult r = ToBitmap(file, false);
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.height, 2);
  EXPECT_EQ(r.width, 208);  // the 2048-pixel line's ink fell beyond 216 bytes
  const BitmapResult wide = ToBitmap(StreamApf(MhBits().Line({2040, 8}).Rtc(), pfWide), false);
  EXPECT_EQ(wide.width, 2048);
}

TEST(DecodePageToBitmap, ScalingMergesBlackAndRepeatsPixels) {
  // Two lines; the second has one black pixel at x = 5.
  const auto file = StreamApf(MhBits().Line({1728}).Line({5, 1, 1722}).Rtc());
  const BitmapResult half = ToBitmap(file, false, 0, {1, 2, 1, 2});
  ASSERT_EQ(half.result, 0);
  EXPECT_EQ(half.width, 8);
  EXPECT_EQ(half.height, 1);
  EXPECT_TRUE(half.bitmap.Pixel(2, 0));
  EXPECT_FALSE(half.bitmap.Pixel(3, 0));
  const BitmapResult halfInverted = ToBitmap(file, true, 0, {1, 2, 1, 2});
  EXPECT_FALSE(halfInverted.bitmap.Pixel(2, 0));
  EXPECT_TRUE(halfInverted.bitmap.Pixel(3, 0));
  const BitmapResult twice = ToBitmap(file, false, 0, {2, 1, 3, 1});
  EXPECT_EQ(twice.width, 32);
  EXPECT_EQ(twice.height, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 32; ++x) EXPECT_EQ(twice.bitmap.Pixel(x, y), y >= 3 && x / 2 == 5);
  EXPECT_EQ(ToBitmap(file, false, 0, {1, 100, 1, 1}).result, kErrCantMakeBitmap);
}

TEST(DecodePageToBitmap, FailuresLeaveNoBitmapAndRestoreTheSink) {
  std::vector<std::uint8_t> file = StreamApf(MhBits().Line({1728}).Line({1728}).Rtc());
  file.resize(file.size() - 10);
  CollectedLines lines;
  std::unique_ptr<UnpackerState> s;
  ASSERT_EQ(CreateUnpacker(s, nullptr, Collect(lines)), 0);
  int w = -1, h = -1;
  MonoBitmap bmp(8, 8);
  EXPECT_EQ(DecodePageToBitmap(*s, file, 1, true, w, h, bmp), kErrNotApf);
  EXPECT_TRUE(bmp.Empty());
  EXPECT_EQ(w, 0);
  EXPECT_TRUE(lines.lines.empty());
  EXPECT_EQ(DecodePage(*s, StreamApf(MhBits().Line({1728}).Rtc()), 1), 0);
  EXPECT_EQ(lines.lines.size(), 2u);  // the component's sink is back
}

}  // namespace
}  // namespace veltrane::imaging
