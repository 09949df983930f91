#include "modemsim/transmitter.h"

#include <algorithm>

namespace veltrane::modemsim {

void Transmitter::emitAt(Micros when, LineSignal s, std::function<void()> then) {
  auto id = std::make_shared<Scheduler::TimerId>(0);
  *id = sched_.at(when, [this, id, s = std::move(s), then = std::move(then)] {
    pending_.erase(*id);
    send_(s);
    if (then) then();
  });
  pending_.insert(*id);
}

void Transmitter::cancelAll() {
  for (auto id : pending_) sched_.cancel(id);
  pending_.clear();
}

void Transmitter::start(int modulation, Micros preamble) {
  if (on()) abort();
  modulation_ = modulation;
  // A carrier that is still closing finishes first.
  Micros begin = freeAt();
  LineSignal s{LineSignal::Kind::CarrierOn, modulation, {}};
  if (begin <= sched_.now()) send_(s);
  else emitAt(begin, std::move(s), {});
  freeAt_ = begin + preamble;
}

void Transmitter::sendFrame(Bytes frame, std::function<void()> sent, bool corrupt) {
  appendFcs(frame);
  if (corrupt) frame.back() ^= 0x5A;
  // One closing flag per frame; bit stuffing adds a few percent that we ignore.
  Micros end = freeAt() + byteTime(kV21, frame.size() + 1);
  freeAt_ = end;
  emitAt(end, LineSignal{LineSignal::Kind::Frame, modulation_, std::move(frame)}, std::move(sent));
}

void Transmitter::sendData(const Bytes& data, std::function<void()> sent) {
  const std::size_t chunk = std::max<std::size_t>(1, byteTime(modulation_, 1) > 0
                                                         ? static_cast<std::size_t>(20 * kMs / byteTime(modulation_, 1))
                                                         : 1);
  Micros t = freeAt();
  for (std::size_t pos = 0; pos < data.size(); pos += chunk) {
    std::size_t n = std::min(chunk, data.size() - pos);
    t += byteTime(modulation_, n);
    Bytes piece(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
    bool last = pos + n >= data.size();
    emitAt(t, LineSignal{LineSignal::Kind::Data, modulation_, std::move(piece)},
           last ? std::move(sent) : std::function<void()>{});
  }
  if (data.empty() && sent) emitAt(t, LineSignal{LineSignal::Kind::Data, modulation_, {}}, std::move(sent));
  freeAt_ = t;
}

void Transmitter::stop(std::function<void()> done) {
  if (!on()) {
    if (done) done();
    return;
  }
  int m = modulation_;
  // A frame's time already counts its closing flag.
  Micros end = freeAt() + (m == kV21 ? 0 : 10 * kMs);
  freeAt_ = end;
  modulation_ = 0;
  emitAt(end, LineSignal{LineSignal::Kind::CarrierOff, m, {}}, std::move(done));
}

void Transmitter::abort() {
  cancelAll();
  if (on()) send_(LineSignal{LineSignal::Kind::CarrierOff, modulation_, {}});
  modulation_ = 0;
  freeAt_ = sched_.now();
}

}  // namespace veltrane::modemsim
