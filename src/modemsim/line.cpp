#include "modemsim/line.h"

#include <algorithm>
#include <limits>

namespace veltrane::modemsim {

bool isHighSpeed(int m) { return m >= 24; }

namespace {
int carrierFamily(int m) {
  switch (m) {
    case 74: return 73;
    case 98: return 97;
    case 122: return 121;
    case 146: return 145;
    default: return m;
  }
}
int bitRate(int m) {
  switch (carrierFamily(m)) {
    case kV21: return 300;
    case 24: return 2400;
    case 48: return 4800;
    case 72: case 73: return 7200;
    case 96: case 97: return 9600;
    case 121: return 12000;
    case 145: return 14400;
    default: return 300;
  }
}
}  // namespace

bool sameCarrier(int a, int b) { return carrierFamily(a) == carrierFamily(b); }

Micros trainingTime(int m) {
  switch (m) {
    case 24: return 943 * kMs;   // V.27 ter
    case 48: return 708 * kMs;
    case 72: case 96: return 253 * kMs;  // V.29
    case 73: case 97: case 121: case 145: return 1393 * kMs;  // V.17 long
    case 74: case 98: case 122: case 146: return 142 * kMs;   // V.17 short
    default: return 0;
  }
}

Micros byteTime(int m, std::size_t n) {
  return static_cast<Micros>(n) * 8 * kSecond / bitRate(m);
}

struct TelephoneLine::Call {
  enum class State { Dialling, Ringing, Connected } state = State::Dialling;
  LineEndpoint* caller = nullptr;
  LineEndpoint* callee = nullptr;
  int rings = 0;
  Scheduler::TimerId ringTimer = 0, giveUpTimer = 0;
  std::shared_ptr<Micros> endedAt = std::make_shared<Micros>(std::numeric_limits<Micros>::max());
};

TelephoneLine::TelephoneLine(Scheduler& s, LineOptions o) : sched_(s), options_(o) {}

TelephoneLine::~TelephoneLine() {
  for (auto& c : calls_) {
    sched_.cancel(c->ringTimer);
    sched_.cancel(c->giveUpTimer);
  }
}

void TelephoneLine::attach(const std::string& number, LineEndpoint* e) { numbers_[number] = e; }

void TelephoneLine::detach(LineEndpoint* e) {
  hangup(e);
  for (auto it = numbers_.begin(); it != numbers_.end();)
    it = it->second == e ? numbers_.erase(it) : std::next(it);
  noDialtone_.erase(e);
}

void TelephoneLine::setNoDialtone(LineEndpoint* e, bool on) {
  if (on) noDialtone_.insert(e);
  else noDialtone_.erase(e);
}

std::string TelephoneLine::dialledNumber(const std::string& dial) {
  std::string digits;
  for (char c : dial)
    if ((c >= '0' && c <= '9') || c == '*' || c == '#') digits += c;
  return digits;
}

LineEndpoint* TelephoneLine::lookup(const std::string& digits) const {
  if (auto it = numbers_.find(digits); it != numbers_.end()) return it->second;
  // An outside-line or trunk prefix of up to three digits still reaches the number.
  for (const auto& [number, e] : numbers_)
    if (digits.size() > number.size() && digits.size() - number.size() <= 3 &&
        digits.compare(digits.size() - number.size(), number.size(), number) == 0)
      return e;
  return nullptr;
}

TelephoneLine::Call* TelephoneLine::callOf(const LineEndpoint* e) const {
  for (auto& c : calls_)
    if (c->caller == e || c->callee == e) return c.get();
  return nullptr;
}

bool TelephoneLine::inCall(const LineEndpoint* e) const { return callOf(e) != nullptr; }

bool TelephoneLine::connected(const LineEndpoint* e) const {
  Call* c = callOf(e);
  return c && c->state == Call::State::Connected;
}

void TelephoneLine::dial(LineEndpoint* caller, const std::string& dialString, Micros dialTime,
                         Micros noAnswerAfter) {
  hangup(caller);
  if (noDialtone_.count(caller)) {
    sched_.after(2 * kSecond, [caller] { caller->onCallResult(CallResult::NoDialtone); });
    return;
  }
  auto owned = std::make_unique<Call>();
  Call* call = owned.get();
  call->caller = caller;
  calls_.insert(std::move(owned));
  std::string digits = dialledNumber(dialString);
  call->ringTimer = sched_.after(dialTime + options_.dialToRing, [this, call, digits] {
    call->ringTimer = 0;
    LineEndpoint* callee = lookup(digits);
    auto fail = [this, call](CallResult r) {
      LineEndpoint* caller = call->caller;
      endCall(call);
      caller->onCallResult(r);
    };
    if (busyNumbers_.count(digits) || (callee && (callee == call->caller || callee->offHook() ||
                                                  inCall(callee))))
      return fail(CallResult::Busy);
    if (!callee) {
      if (voiceNumbers_.count(digits)) return fail(CallResult::Voice);
      return fail(CallResult::Unobtainable);
    }
    call->callee = callee;
    call->state = Call::State::Ringing;
    ring(call);
  });
  call->giveUpTimer = sched_.after(dialTime + noAnswerAfter, [this, call] {
    call->giveUpTimer = 0;
    if (call->state == Call::State::Connected) return;
    LineEndpoint* caller = call->caller;
    LineEndpoint* callee = call->callee;
    endCall(call);
    if (callee) callee->onRingingStopped();
    caller->onCallResult(CallResult::NoAnswer);
  });
}

void TelephoneLine::ring(Call* call) {
  call->rings++;
  call->ringTimer = sched_.after(options_.ringPeriod, [this, call] {
    call->ringTimer = 0;
    ring(call);
  });
  call->callee->onRing(call->rings);
}

bool TelephoneLine::answer(LineEndpoint* callee) {
  Call* call = callOf(callee);
  if (!call || call->callee != callee || call->state != Call::State::Ringing) return false;
  call->state = Call::State::Connected;
  sched_.cancel(call->ringTimer);
  sched_.cancel(call->giveUpTimer);
  call->ringTimer = call->giveUpTimer = 0;
  LineEndpoint* caller = call->caller;
  sched_.after(options_.propagation, [this, caller, call] {
    if (callOf(caller) == call) caller->onCallResult(CallResult::Answered);
  });
  return true;
}

void TelephoneLine::hangup(LineEndpoint* e) {
  Call* call = callOf(e);
  if (!call) return;
  LineEndpoint* other = call->caller == e ? call->callee : call->caller;
  bool wasRinging = call->state == Call::State::Ringing;
  bool wasConnected = call->state == Call::State::Connected;
  *call->endedAt = sched_.now();
  endCall(call);
  if (!other) return;
  if (wasRinging && other != e) other->onRingingStopped();
  if (!wasConnected) return;
  // What was already on its way still arrives; then the far end hears the line drop.
  sched_.after(options_.propagation, [this, other] {
    if (attached(other) && !callOf(other)) other->onFarEndHangup();
  });
}

bool TelephoneLine::attached(const LineEndpoint* e) const {
  for (const auto& [number, endpoint] : numbers_)
    if (endpoint == e) return true;
  return false;
}

void TelephoneLine::endCall(Call* call) {
  sched_.cancel(call->ringTimer);
  sched_.cancel(call->giveUpTimer);
  for (auto it = calls_.begin(); it != calls_.end(); ++it)
    if (it->get() == call) {
      calls_.erase(it);
      return;
    }
}

void TelephoneLine::transmit(LineEndpoint* from, LineSignal signal) {
  Call* call = callOf(from);
  if (!call || call->state != Call::State::Connected) return;
  LineEndpoint* to = call->caller == from ? call->callee : call->caller;
  Micros sentAt = sched_.now();
  sched_.after(options_.propagation, [this, to, sentAt, ended = call->endedAt, s = std::move(signal)] {
    // Signals sent before a hang-up still arrive; nothing sent after it does.
    if (sentAt < *ended && attached(to)) to->onLineSignal(s);
  });
}

}  // namespace veltrane::modemsim
