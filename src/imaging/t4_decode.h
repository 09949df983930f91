// Decoding T.4 one-dimensional (MH) fax data, bits taken from bit 0 of each
// byte up, through two code trees walked one bit at a time.
//
// The per-bit walk defines what happens with every input, invalid codes
// included: an EOL is any run of 11 or more zero bits followed by a one; a bit
// string of 13 bits that is no code counts as invalid and makes the walk ignore
// one bits until the next zero bit; runs before the first EOL are ignored; a
// line is passed on at the EOL that ends it when its pixel count is 1728..1735
// (216 bytes) or 2048..2055 (256 bytes). The walk stops at the end of a byte in
// which the third EOL in a row was met.
//
// T4Walker can also take up to 13 bits per step through tables derived from the
// trees. It uses them only where the result is the same as walking bit by bit
// (at the root, outside the ones-skipping state, with 13 bits at hand); a
// differential fuzz target holds the two ways to the same lines and counts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrane::imaging {

// One node of a code tree: two signed 32-bit values.
//   inner node: {child for a 0 bit, child for a 1 bit}; node 0 is the root
//   run leaf:   {-1, run length}
//   EOL leaf:   {-2, 0}
//   dead node:  {0, 0}, a 13-bit string that is no code
struct CodeTreeNode {
  std::int32_t zero = 0;
  std::int32_t one = 0;
};

inline constexpr int kCodeTreeCapacity = 307;
inline constexpr std::int32_t kRunLeaf = -1;
inline constexpr std::int32_t kEolLeaf = -2;

struct CodeTree {
  std::array<CodeTreeNode, kCodeTreeCapacity> nodes{};
  int nodeCount = 0;  // nodes made below the root (the highest node number)
};

// Builds the tree of one colour from the T.4 terminating, make-up and extended
// make-up codes and the EOL, then loops node 11 (eleven zero bits) onto itself.
void BuildCodeTree(bool black, CodeTree& tree);

// The two trees and the lookup tables derived from them, built once per process.
struct T4DecodeTables;
struct FastStep;
const T4DecodeTables& T4Tables();

inline constexpr int kLineBufferBytes = 512;  // 4096 pixels
inline constexpr int kLineBytesNormal = 216;
inline constexpr int kLineBytesWide = 256;

// Receives each complete line. Returning false asks the walk to stop at the end
// of the current byte.
class T4LineReceiver {
 public:
  virtual ~T4LineReceiver() = default;
  virtual bool Line(const std::uint8_t* line, int lengthBytes) = 0;
};

// The walk's state; it carries over from one chunk of input to the next.
struct T4WalkState {
  std::int32_t node = 0;
  bool black = false;
  bool skipOnes = false;
  bool waitingForEol = true;
  bool stopRequested = false;
  int eolCount = 0;
  std::uint32_t position = 0;  // next pixel of the line
  std::uint32_t invalidCodes = 0;
  std::array<std::uint8_t, kLineBufferBytes> line{};
};

class T4Walker {
 public:
  explicit T4Walker(T4LineReceiver& receiver, bool perBitOnly = false);

  // Back to the start of a page: white, root, waiting for the first EOL.
  // The invalid-code count is kept.
  void StartPage();

  // Walks `bytes`. Returns how many were used: all of them, or fewer when the
  // walk finished (three EOLs in a row) or a stop was requested.
  std::size_t Walk(std::span<const std::uint8_t> bytes);

  bool Finished() const { return state_.eolCount >= 3 || state_.stopRequested; }
  const T4WalkState& State() const { return state_; }
  std::uint32_t InvalidCodes() const { return state_.invalidCodes; }
  void SetInvalidCodes(std::uint32_t n) { state_.invalidCodes = n; }

 private:
  void Step(int bit);
  std::size_t TableSteps(const std::uint8_t* data, std::size_t size, std::size_t bit);
  std::size_t RunSteps(const std::uint8_t* data, std::size_t size, std::size_t bit,
                       FastStep step);
  void Leaf(const CodeTreeNode& leaf);
  void Run(std::uint32_t length);
  void Eol();
  void Dead();
  void PaintBlack(std::uint32_t from, std::uint32_t length);

  T4LineReceiver& receiver_;
  const T4DecodeTables& tables_;
  bool perBitOnly_;
  T4WalkState state_;
  std::uint32_t dirtyBytes_ = 0;  // line bytes that may hold black pixels
};

}  // namespace veltrane::imaging
