#include "imaging/tiff_g3.h"

#include "imaging/t4_codes.h"

#include <array>
#include <cstring>
#include <vector>

namespace veltrane::imaging {
namespace {

// A binary code tree per colour, made from the shared T.4 code tables: inner
// nodes link children, leaves hold run lengths.
struct RunTree {
  struct Node {
    int child[2] = {-1, -1};
    int run = -1;
  };
  std::vector<Node> nodes{1};

  void Add(const T4Code& code, int run) {
    if (code.length == 0) return;
    int at = 0;
    for (int i = 0; i < code.length; ++i) {
      const int bit = (code.bits >> i) & 1;  // first bit of the code in bit 0
      if (nodes[at].child[bit] < 0) {
        nodes[at].child[bit] = int(nodes.size());
        nodes.emplace_back();
      }
      at = nodes[at].child[bit];
    }
    nodes[at].run = run;
  }
};

const RunTree& Tree(int colour) {
  static const std::array<RunTree, 2> trees = [] {
    const T4CodeTables& codes = T4Codes();
    std::array<RunTree, 2> t;
    for (int run = 0; run < 64; ++run) {
      t[0].Add(codes.whiteTerminating[run], run);
      t[1].Add(codes.blackTerminating[run], run);
    }
    for (std::size_t i = 1; i < codes.whiteMakeUp.size(); ++i) {
      t[0].Add(codes.whiteMakeUp[i], int(i) * 64);
      t[1].Add(codes.blackMakeUp[i], int(i) * 64);
    }
    return t;
  }();
  return trees[colour];
}

constexpr std::size_t kEolZeros = 11;

void SetBits(uint8_t* row, uint32_t from, uint32_t count) {
  for (uint32_t x = from; x < from + count; ++x) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
}

}  // namespace

G3RowDecoder::G3RowDecoder(std::span<const uint8_t> data, bool lsb_first)
    : data_(data), lsb_first_(lsb_first), total_bits_(data.size() * 8) {}

int G3RowDecoder::Bit(std::size_t pos) const {
  const uint8_t byte = data_[pos >> 3];
  const unsigned shift = lsb_first_ ? (pos & 7) : 7 - (pos & 7);
  return (byte >> shift) & 1;
}

std::size_t G3RowDecoder::ZerosAt(std::size_t pos) const {
  std::size_t n = 0;
  while (pos + n < total_bits_ && Bit(pos + n) == 0) ++n;
  return n;
}

// Consumes any EOLs (with their fill) at the current position; false when
// the data ends inside them.
bool G3RowDecoder::SkipEols() {
  for (;;) {
    const std::size_t zeros = ZerosAt(pos_);
    if (pos_ + zeros >= total_bits_) {
      pos_ = total_bits_;
      return false;
    }
    if (zeros < kEolZeros) return true;
    pos_ += zeros + 1;
  }
}

void G3RowDecoder::SkipToEol() {
  while (!AtEnd()) {
    const std::size_t zeros = ZerosAt(pos_);
    if (zeros >= kEolZeros) return;  // left for the next row to consume
    pos_ += zeros + 1;
  }
}

// The next run length of `colour`; -1 for a bad code or the end of the data,
// -2 (with eol set) when an EOL stands here.
int G3RowDecoder::NextCode(int colour, bool& eol) {
  eol = false;
  if (ZerosAt(pos_) >= kEolZeros) {
    eol = true;
    return -2;
  }
  const RunTree& tree = Tree(colour);
  int node = 0;
  while (!AtEnd()) {
    node = tree.nodes[node].child[Bit(pos_++)];
    if (node < 0) return -1;
    if (tree.nodes[node].run >= 0) return tree.nodes[node].run;
  }
  return -1;
}

bool G3RowDecoder::DecodeRow(uint8_t* row, uint32_t width) {
  std::memset(row, 0, (width + 7) / 8);
  const std::size_t row_start = pos_;
  if (!SkipEols()) return false;
  const bool had_eol = pos_ != row_start;
  uint32_t x = 0;
  int colour = 0;
  bool damaged = false;
  bool makeup_pending = false;  // a make-up code always takes a terminating code after it
  while (x < width || makeup_pending) {
    bool eol = false;
    const int run = NextCode(colour, eol);
    if (eol) {  // the row is short; the EOL starts the next one
      damaged = true;
      break;
    }
    if (run < 0) {
      damaged = true;
      SkipToEol();
      break;
    }
    uint32_t take = uint32_t(run);
    if (take > width - x) {
      take = width - x;
      damaged = true;
    }
    if (colour == 1) SetBits(row, x, take);
    x += take;
    makeup_pending = run >= 64;
    if (!makeup_pending) colour ^= 1;
  }
  // In data that marks rows with EOLs, codes after a full row mean it was too long.
  if (!damaged && had_eol && !AtEnd()) {
    const std::size_t zeros = ZerosAt(pos_);
    if (pos_ + zeros < total_bits_ && zeros < kEolZeros) {
      damaged = true;
      SkipToEol();
    }
  }
  if (damaged) ++damaged_rows_;
  return true;
}

}  // namespace veltrane::imaging
