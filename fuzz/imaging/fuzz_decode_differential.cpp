// The table steps of the line walker against the plain per-bit walk: on any
// bytes, cut into chunks anywhere, both must give the same lines, the same
// invalid-code count and stop at the same byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/t4_decode.h"

using namespace veltrane::imaging;

namespace {

struct Lines final : T4LineReceiver {
  std::vector<std::uint8_t> bytes;
  std::vector<int> lengths;
  bool Line(const std::uint8_t* line, int length) override {
    bytes.insert(bytes.end(), line, line + length);
    lengths.push_back(length);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte sets the chunk size (records are cut anywhere).
  const std::size_t chunk = 1 + data[0] % 64;
  data += 1;
  size -= 1;
  Lines fastLines, slowLines;
  T4Walker fast(fastLines), slow(slowLines, /*perBitOnly=*/true);
  fast.StartPage();
  slow.StartPage();
  for (std::size_t offset = 0; offset < size;) {
    const std::size_t n = size - offset < chunk ? size - offset : chunk;
    const std::size_t usedFast = fast.Walk({data + offset, n});
    const std::size_t usedSlow = slow.Walk({data + offset, n});
    if (usedFast != usedSlow) __builtin_trap();
    if (fast.Finished() != slow.Finished()) __builtin_trap();
    if (fast.Finished()) {
      // Like a new page: start again after the end, to cover more input.
      fast.StartPage();
      slow.StartPage();
    }
    offset += usedFast == 0 ? n : usedFast;
  }
  if (fastLines.lengths != slowLines.lengths || fastLines.bytes != slowLines.bytes) __builtin_trap();
  if (fast.InvalidCodes() != slow.InvalidCodes()) __builtin_trap();
  const T4WalkState& a = fast.State();
  const T4WalkState& b = slow.State();
  if (a.node != b.node || a.black != b.black || a.skipOnes != b.skipOnes ||
      a.position != b.position || a.eolCount != b.eolCount ||
      std::memcmp(a.line.data(), b.line.data(), a.line.size()) != 0)
    __builtin_trap();
  return 0;
}
