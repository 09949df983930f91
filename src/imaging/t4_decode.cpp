#include "imaging/t4_decode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "imaging/t4_codes.h"

namespace veltrane::imaging {

// What 13 bits read from the root of a tree come to, for the table walk.
enum class StepKind : std::uint8_t { kUnresolved, kRun, kEol, kDead };

struct FastStep {
  StepKind kind = StepKind::kUnresolved;
  std::uint8_t length = 0;   // bits used
  std::uint16_t run = 0;
};

inline constexpr int kLookaheadBits = 13;
// Most codes are at most 9 bits long; a 9-bit table (2 KB a colour) stays in
// the first-level cache, the 13-bit one is consulted for the rest.
inline constexpr int kShortLookaheadBits = 9;

struct T4DecodeTables {
  CodeTree trees[2];  // white, black
  std::array<FastStep, 1 << kLookaheadBits> steps[2];
  std::array<FastStep, 1 << kShortLookaheadBits> shortSteps[2];
};

namespace {

struct CodeEntry {
  std::uint16_t bits;  // first bit in bit 0
  std::uint8_t length;
  std::int32_t zero;   // leaf values the code turns into
  std::int32_t one;
};

std::vector<CodeEntry> CodesOfColour(bool black) {
  const T4CodeTables& t = T4Codes();
  const auto& terminating = black ? t.blackTerminating : t.whiteTerminating;
  const auto& makeUp = black ? t.blackMakeUp : t.whiteMakeUp;
  std::vector<CodeEntry> codes;
  for (int run = 0; run < 64; ++run)
    codes.push_back({terminating[run].bits, terminating[run].length, kRunLeaf, run});
  for (std::size_t i = 1; i < makeUp.size(); ++i)
    codes.push_back({makeUp[i].bits, makeUp[i].length, kRunLeaf, static_cast<std::int32_t>(i * 64)});
  codes.push_back({kT4Eol12.bits, kT4Eol12.length, kEolLeaf, 0});
  return codes;
}

class TreeBuilder {
 public:
  TreeBuilder(bool black, CodeTree& tree) : codes_(CodesOfColour(black)), tree_(tree) {}

  void Build() {
    tree_.nodes.fill({});
    lastNode_ = 0;
    BuildChildren(0);
    tree_.nodeCount = std::min(lastNode_, kCodeTreeCapacity - 1);
  }

 private:
  static constexpr int kMaxCodeLength = 13;

  const CodeEntry* Match() const {
    for (const CodeEntry& c : codes_)
      if (c.length == length_ && c.bits == code_) return &c;
    return nullptr;
  }

  // Children are numbered in the order they are made, the 0-child's whole
  // subtree before the 1-child: eleven 0 bits from the root reach node 11.
  void BuildChildren(int parent) {
    for (int bit = 0; bit <= 1; ++bit) {
      const int child = ++lastNode_;
      if (child >= kCodeTreeCapacity) continue;
      (bit ? tree_.nodes[parent].one : tree_.nodes[parent].zero) = child;
      code_ = static_cast<std::uint16_t>(code_ | (bit << length_));
      ++length_;
      if (const CodeEntry* match = Match())
        tree_.nodes[child] = {match->zero, match->one};
      else if (length_ < kMaxCodeLength)
        BuildChildren(child);
      --length_;
      code_ = static_cast<std::uint16_t>(code_ & ~(1u << length_));
    }
  }

  std::vector<CodeEntry> codes_;
  CodeTree& tree_;
  std::uint16_t code_ = 0;
  int length_ = 0;
  int lastNode_ = 0;
};

constexpr int kElevenZerosNode = 11;

FastStep ResolveFromRoot(const CodeTree& tree, unsigned bits, int lookahead) {
  std::int32_t node = 0;
  for (int k = 0; k < lookahead; ++k) {
    const CodeTreeNode& from = tree.nodes[node];
    node = (bits >> k) & 1 ? from.one : from.zero;
    const CodeTreeNode& n = tree.nodes[node];
    const auto used = static_cast<std::uint8_t>(k + 1);
    if (n.zero == kRunLeaf) return {StepKind::kRun, used, static_cast<std::uint16_t>(n.one)};
    if (n.zero == kEolLeaf) return {StepKind::kEol, used, 0};
    if (n.zero == 0 && n.one == 0) return {StepKind::kDead, used, 0};
  }
  return {};
}

T4DecodeTables BuildTables() {
  T4DecodeTables t;
  for (int colour = 0; colour < 2; ++colour) {
    BuildCodeTree(colour == 1, t.trees[colour]);
    for (unsigned bits = 0; bits < t.steps[colour].size(); ++bits)
      t.steps[colour][bits] = ResolveFromRoot(t.trees[colour], bits, kLookaheadBits);
    for (unsigned bits = 0; bits < t.shortSteps[colour].size(); ++bits)
      t.shortSteps[colour][bits] = ResolveFromRoot(t.trees[colour], bits, kShortLookaheadBits);
  }
  return t;
}

// Up to 57 bits starting at bit `bit` of `bytes` (bit 0 of each byte first).
inline std::uint64_t PeekBits(const std::uint8_t* bytes, std::size_t size, std::size_t bit) {
  const std::size_t first = bit / 8;
  std::uint64_t word = 0;
  if (size - first >= 8) {
    for (int k = 0; k < 8; ++k) word |= std::uint64_t{bytes[first + k]} << (8 * k);
  } else {
    for (std::size_t k = 0; first + k < size; ++k) word |= std::uint64_t{bytes[first + k]} << (8 * k);
  }
  return word >> (bit % 8);
}

// Sets pixels [from, from + length) of `line`, most significant bit first.
inline void Paint(std::uint8_t* line, std::uint32_t from, std::uint32_t length) {
  const std::uint32_t end = from + length;  // exclusive, length > 0
  std::uint32_t firstByte = from / 8;
  const std::uint32_t lastByte = (end - 1) / 8;
  const auto head = static_cast<std::uint8_t>(0xFFu >> (from % 8));
  const auto tail = static_cast<std::uint8_t>(0xFFu << (7 - (end - 1) % 8));
  if (firstByte == lastByte) {
    line[firstByte] |= head & tail;
    return;
  }
  line[firstByte++] |= head;
  while (firstByte < lastByte) line[firstByte++] = 0xFF;
  line[lastByte] |= tail;
}

}  // namespace

void BuildCodeTree(bool black, CodeTree& tree) {
  TreeBuilder(black, tree).Build();
  // Any run of eleven or more zero bits followed by a one is an EOL.
  tree.nodes[kElevenZerosNode].zero = kElevenZerosNode;
}

const T4DecodeTables& T4Tables() {
  static const T4DecodeTables* tables = new T4DecodeTables(BuildTables());
  return *tables;
}

T4Walker::T4Walker(T4LineReceiver& receiver, bool perBitOnly)
    : receiver_(receiver), tables_(T4Tables()), perBitOnly_(perBitOnly) {}

void T4Walker::StartPage() {
  const std::uint32_t invalid = state_.invalidCodes;
  std::memset(state_.line.data(), 0, dirtyBytes_);
  dirtyBytes_ = 0;
  state_ = T4WalkState{};
  state_.invalidCodes = invalid;
}

void T4Walker::PaintBlack(std::uint32_t from, std::uint32_t length) {
  if (length == 0) return;
  Paint(state_.line.data(), from, length);
  dirtyBytes_ = std::max(dirtyBytes_, (from + length + 7) / 8);
}

void T4Walker::Run(std::uint32_t length) {
  if (!state_.waitingForEol && state_.position + length <= kLineBufferBytes * 8u) {
    if (state_.black) PaintBlack(state_.position, length);
    state_.position += length;
    if (length < 64) state_.black = !state_.black;
  }
  state_.node = 0;
  state_.eolCount = 0;
}

void T4Walker::Eol() {
  if (state_.position > 0) {
    const int bytes = static_cast<int>(state_.position / 8);
    if ((bytes == kLineBytesNormal || bytes == kLineBytesWide) &&
        !receiver_.Line(state_.line.data(), bytes))
      state_.stopRequested = true;
  }
  std::memset(state_.line.data(), 0, dirtyBytes_);
  dirtyBytes_ = 0;
  state_.position = 0;
  state_.black = false;
  state_.node = 0;
  state_.eolCount += 1;
  state_.waitingForEol = false;
}

void T4Walker::Dead() {
  state_.node = 0;
  state_.invalidCodes += 1;
  state_.skipOnes = true;
}

void T4Walker::Leaf(const CodeTreeNode& leaf) {
  if (leaf.zero == kRunLeaf)
    Run(static_cast<std::uint32_t>(leaf.one));
  else if (leaf.zero == kEolLeaf)
    Eol();
  else if (leaf.zero == 0 && leaf.one == 0)
    Dead();
}

void T4Walker::Step(int bit) {
  const CodeTree& tree = tables_.trees[state_.black ? 1 : 0];
  if (bit) {
    if (state_.skipOnes) return;  // stays at the root
    state_.node = tree.nodes[state_.node].one;
  } else {
    state_.skipOnes = false;
    state_.node = tree.nodes[state_.node].zero;
  }
  Leaf(tree.nodes[state_.node]);
}


// Runs are by far the most frequent step, so their loop keeps the walk's
// position and colour in locals (byte writes to the line may alias any member)
// and the bits ahead in a register, topped up every few codes. It starts with
// `step`, a run found at `bit`, and returns the bit after the last run.
std::size_t T4Walker::RunSteps(const std::uint8_t* data, std::size_t size, std::size_t bit,
                               FastStep step) {
  const std::size_t totalBits = size * 8;
  std::uint32_t position = state_.position;
  bool black = state_.black;
  const bool waiting = state_.waitingForEol;
  std::uint8_t* line = state_.line.data();
  std::uint32_t paintedEnd = dirtyBytes_;
  // Both colours' tables lie back to back: the colour picks the half.
  const FastStep* longSteps = tables_.steps[0].data();
  const FastStep* shortSteps = tables_.shortSteps[0].data();
  static_assert(sizeof(tables_.steps) == 2 * sizeof(tables_.steps[0]));
  static_assert(sizeof(tables_.shortSteps) == 2 * sizeof(tables_.shortSteps[0]));
  std::uint64_t window = PeekBits(data, size, bit);
  std::size_t held = std::min<std::size_t>(57, totalBits - bit);  // valid bits in window
  for (;;) {
    bit += step.length;
    window >>= step.length;
    held -= step.length;
    const std::uint32_t run = step.run;
    if (!waiting && position + run <= kLineBufferBytes * 8u) {
      if (black && run > 0) {
        Paint(line, position, run);
        paintedEnd = std::max(paintedEnd, (position + run + 7) / 8);
      }
      position += run;
      if (run < 64) black = !black;
    }
    if (held < kLookaheadBits) {
      if (totalBits - bit < kLookaheadBits) break;
      window = PeekBits(data, size, bit);
      held = std::min<std::size_t>(57, totalBits - bit);
    }
    const unsigned colour = black ? 1u : 0u;
    step = shortSteps[colour << kShortLookaheadBits | (window & ((1u << kShortLookaheadBits) - 1))];
    if (step.kind == StepKind::kUnresolved)
      step = longSteps[colour << kLookaheadBits | (window & ((1u << kLookaheadBits) - 1))];
    if (step.kind != StepKind::kRun) break;
  }
  state_.position = position;
  state_.black = black;
  state_.eolCount = 0;
  dirtyBytes_ = paintedEnd;
  return bit;
}

// Every step other than a run goes through the same members the per-bit walk uses.
std::size_t T4Walker::TableSteps(const std::uint8_t* data, std::size_t size, std::size_t bit) {
  const std::size_t totalBits = size * 8;
  while (state_.node == 0 && totalBits - bit >= kLookaheadBits && !Finished()) {
    const std::size_t available = std::min<std::size_t>(57, totalBits - bit);
    const std::uint64_t window = PeekBits(data, size, bit);
    if (state_.skipOnes) {
      const std::size_t ones = std::min<std::size_t>(std::countr_one(window), available);
      if (ones > 0) {
        bit += ones;
        continue;
      }
      state_.skipOnes = false;  // the zero bit below starts a code from the root
    }
    const FastStep step = tables_.steps[state_.black ? 1 : 0][window & 0x1FFF];
    switch (step.kind) {
      case StepKind::kRun:
        bit = RunSteps(data, size, bit, step);
        break;
      case StepKind::kEol:
        bit += step.length;
        Eol();
        break;
      case StepKind::kDead:
        bit += step.length;
        Dead();
        break;
      case StepKind::kUnresolved: {
        // Thirteen zero bits: fill before an EOL. Eleven or more zeros and a one
        // are an EOL; zeros up to the end of the window leave the walk at node 11.
        const std::size_t zeros = std::min<std::size_t>(std::countr_zero(window), available);
        if (zeros < available) {
          bit += zeros + 1;
          Eol();
        } else {
          bit += zeros;
          state_.node = kElevenZerosNode;
        }
        break;
      }
    }
  }
  return bit;
}

std::size_t T4Walker::Walk(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* data = bytes.data();
  const std::size_t size = bytes.size();
  const std::size_t totalBits = size * 8;
  std::size_t bit = 0;
  while (bit < totalBits) {
    if (bit % 8 == 0 && Finished()) return bit / 8;
    // A table step stands for exactly the bits a per-bit walk from the root
    // would take. Anywhere else (inside a code, the last few bits, or the rest
    // of a byte after the walk finished) go bit by bit.
    if (!perBitOnly_) {
      const std::size_t after = TableSteps(data, size, bit);
      if (after != bit) {
        bit = after;
        continue;
      }
    }
    Step((data[bit / 8] >> (bit % 8)) & 1);
    ++bit;
  }
  return size;
}

}  // namespace veltrane::imaging
