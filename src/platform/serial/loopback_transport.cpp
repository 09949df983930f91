#include "platform/serial/loopback_transport.h"

#include <algorithm>

#include "platform/serial/errors.h"

namespace veltrane::serial {

// Times are kept in microseconds so slow speeds space bytes exactly.
struct LoopbackTransport::Direction {
  struct Byte {
    int64_t arrivalUs;
    uint8_t value;
  };
  std::deque<Byte> bytes;
  int64_t lastArrivalUs = 0;
};

struct LoopbackTransport::Shared {
  Clock& clock;
  LoopbackOptions options;
  Direction dir[2];  // dir[s]: bytes written by side s
  bool dtr[2] = {false, false};
  bool rts[2] = {false, false};
  bool carrier[2] = {false, false};
  int baud[2] = {19200, 19200};
  LoopbackTransport* ends[2] = {nullptr, nullptr};
  Shared(Clock& c, const LoopbackOptions& o) : clock(c), options(o) {}
};

// Arrival times grow along each direction, so the bytes still on the wire
// (not yet landed) are a tail found by binary search.
namespace {
template <typename Bytes>
auto firstInFlight(const Bytes& bytes, int64_t nowUs) {
  return std::partition_point(bytes.begin(), bytes.end(), [nowUs](const auto& b) { return b.arrivalUs <= nowUs; });
}
}  // namespace

// Bytes written but not yet landed at the far end: what fills the wire. Bytes
// that landed wait for the far end to read them and no longer hold us up.
std::size_t LoopbackTransport::inFlight(const Direction& d) const {
  return static_cast<std::size_t>(d.bytes.end() - firstInFlight(d.bytes, shared_->clock.nowMs() * 1000));
}

std::pair<std::unique_ptr<LoopbackTransport>, std::unique_ptr<LoopbackTransport>> LoopbackTransport::makePair(
    Clock& clock, const LoopbackOptions& options) {
  auto shared = std::make_shared<Shared>(clock, options);
  std::unique_ptr<LoopbackTransport> a(new LoopbackTransport(shared, 0));
  std::unique_ptr<LoopbackTransport> b(new LoopbackTransport(shared, 1));
  return {std::move(a), std::move(b)};
}

LoopbackTransport::LoopbackTransport(std::shared_ptr<Shared> shared, int side)
    : shared_(std::move(shared)), side_(side), name_(side == 0 ? "loopback A" : "loopback B") {
  shared_->ends[side_] = this;
}

LoopbackTransport::~LoopbackTransport() {
  // Going away drops our lines, as unplugging a cable would.
  shared_->dtr[side_] = shared_->rts[side_] = shared_->carrier[side_] = false;
  shared_->ends[side_] = nullptr;
}

long LoopbackTransport::read(uint8_t* dst, std::size_t max) {
  Direction& in = shared_->dir[1 - side_];
  const int64_t nowUs = shared_->clock.nowMs() * 1000;
  std::size_t n = 0;
  while (n < max && !in.bytes.empty() && in.bytes.front().arrivalUs <= nowUs) {
    dst[n++] = in.bytes.front().value;
    in.bytes.pop_front();
  }
  return static_cast<long>(n);
}

long LoopbackTransport::write(const uint8_t* src, std::size_t n) {
  Direction& out = shared_->dir[side_];
  const int bps = shared_->options.bitsPerSecond;
  if (bps > 0) {  // an instant line never fills
    const std::size_t flying = inFlight(out);
    n = std::min(n, shared_->options.capacity > flying ? shared_->options.capacity - flying : 0);
  }
  const int64_t byteUs = bps > 0 ? 10'000'000 / bps : 0;  // start, 8 data and stop bits
  int64_t t = std::max(out.lastArrivalUs, shared_->clock.nowMs() * 1000);
  for (std::size_t i = 0; i < n; ++i) {
    t += byteUs;
    out.bytes.push_back(Direction::Byte{t, src[i]});
  }
  if (n > 0) {
    out.lastArrivalUs = t;
    if (LoopbackTransport* peer = shared_->ends[1 - side_]) peer->wake();
  }
  return static_cast<long>(n);
}

int LoopbackTransport::setLine(const LineSettings& line) {
  shared_->baud[side_] = line.baud;
  return 0;
}

int LoopbackTransport::setDtr(bool on) {
  shared_->dtr[side_] = on;
  return 0;
}

int LoopbackTransport::setRts(bool on) {
  shared_->rts[side_] = on;
  return 0;
}

ModemStatus LoopbackTransport::modemStatus() {
  const int peer = 1 - side_;
  ModemStatus s;
  s.available = true;
  s.cts = shared_->rts[peer];
  s.dsr = shared_->dtr[peer];
  s.dcd = shared_->carrier[peer];
  return s;
}

void LoopbackTransport::discardInput() {
  // Only what has already arrived; bytes still on the wire come in later.
  Direction& in = shared_->dir[1 - side_];
  const int64_t nowUs = shared_->clock.nowMs() * 1000;
  while (!in.bytes.empty() && in.bytes.front().arrivalUs <= nowUs) in.bytes.pop_front();
}

void LoopbackTransport::discardOutput() {}

int64_t LoopbackTransport::nextWakeMs(int64_t now) const {
  // The next byte still on its way to us (landed bytes are hasInput()), and
  // when the wire is full, the next of ours to land and so make room.
  const int64_t nowUs = now * 1000;
  int64_t due = kNever;
  const Direction& in = shared_->dir[1 - side_];
  if (auto it = firstInFlight(in.bytes, nowUs); it != in.bytes.end()) due = (it->arrivalUs + 999) / 1000;
  const Direction& out = shared_->dir[side_];
  if (shared_->options.bitsPerSecond > 0 && inFlight(out) >= shared_->options.capacity) {
    if (auto it = firstInFlight(out.bytes, nowUs); it != out.bytes.end())
      due = std::min(due, (it->arrivalUs + 999) / 1000);
  }
  return due;
}

bool LoopbackTransport::hasInput() const {
  const Direction& in = shared_->dir[1 - side_];
  return !in.bytes.empty() && in.bytes.front().arrivalUs <= shared_->clock.nowMs() * 1000;
}

bool LoopbackTransport::peerDtr() const { return shared_->dtr[1 - side_]; }

bool LoopbackTransport::peerRts() const { return shared_->rts[1 - side_]; }

void LoopbackTransport::setCarrier(bool on) { shared_->carrier[side_] = on; }

}  // namespace veltrane::serial
