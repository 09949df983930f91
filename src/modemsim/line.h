// The virtual telephone line: numbers, dialling, ring cadence, answer, busy,
// hang-up in both directions, and the two directions of a connected call.
//
// A connected call carries LineSignals instead of audio: a carrier starts
// (CED/CNG tones, V.21 flags, a high-speed training), HDLC frames and page data
// arrive at the moment their last bit would, and the carrier stops. Each
// endpoint sees only what reaches it while it listens, so a host that reacts
// too late loses frames, as on a real line.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "modemsim/hdlc.h"
#include "modemsim/scheduler.h"

namespace veltrane::modemsim {

// Carrier kinds: Class 1 modulation codes (3 = V.21 channel 2, 24..146 the
// high-speed modulations) plus the two calling tones.
inline constexpr int kToneCng = 1;
inline constexpr int kToneCed = 2;
inline constexpr int kV21 = 3;

bool isHighSpeed(int modulation);
// Two codes a receiver treats as the same carrier (V.17 long and short training).
bool sameCarrier(int a, int b);
Micros trainingTime(int modulation);
// Time on the line for n bytes at the carrier's bit rate.
Micros byteTime(int modulation, std::size_t n);

struct LineSignal {
  enum class Kind { CarrierOn, CarrierOff, Frame, Data };
  Kind kind = Kind::CarrierOff;
  int modulation = 0;
  Bytes bytes;  // Frame: address .. FCS; Data: page or training bytes
};

enum class CallResult { Answered, Busy, NoAnswer, NoDialtone, Voice, Unobtainable };

class LineEndpoint {
 public:
  virtual ~LineEndpoint() = default;
  virtual std::string label() const = 0;
  // An endpoint in a call or off hook gives callers BUSY.
  virtual bool offHook() const = 0;
  // Incoming call: one call per ring (1, 2, ...); `ringing` false when the caller gave up.
  virtual void onRing(int ringNumber) = 0;
  virtual void onRingingStopped() {}
  // Outgoing call: how the dial ended.
  virtual void onCallResult(CallResult result) = 0;
  virtual void onFarEndHangup() = 0;
  virtual void onLineSignal(const LineSignal& signal) = 0;
};

struct LineOptions {
  Micros dialToRing = 1 * kSecond;
  Micros ringPeriod = 6 * kSecond;
  Micros propagation = 20 * kMs;
};

class TelephoneLine {
 public:
  TelephoneLine(Scheduler& sched, LineOptions options = {});
  ~TelephoneLine();

  Scheduler& scheduler() { return sched_; }
  void attach(const std::string& number, LineEndpoint* endpoint);
  void detach(LineEndpoint* endpoint);
  void addBusyNumber(const std::string& number) { busyNumbers_.insert(number); }
  void addVoiceNumber(const std::string& number) { voiceNumbers_.insert(number); }
  void setNoDialtone(LineEndpoint* endpoint, bool on);

  // Starts a call. The result arrives through onCallResult (Answered once the
  // callee answers). `noAnswerAfter` bounds the ringing.
  void dial(LineEndpoint* caller, const std::string& digits, Micros dialTime, Micros noAnswerAfter);
  // The callee takes the call that rings it; false when nothing rings.
  bool answer(LineEndpoint* callee);
  // Ends the endpoint's call (or its dialling); the other end hears it.
  void hangup(LineEndpoint* endpoint);
  bool inCall(const LineEndpoint* endpoint) const;
  bool connected(const LineEndpoint* endpoint) const;
  // Sends a signal to the other end of a connected call.
  void transmit(LineEndpoint* from, LineSignal signal);
  // The digits of a dial string that select a number (also used for logs).
  static std::string dialledNumber(const std::string& dialString);

 private:
  struct Call;
  Call* callOf(const LineEndpoint* e) const;
  bool attached(const LineEndpoint* e) const;
  LineEndpoint* lookup(const std::string& digits) const;
  void ring(Call* call);
  void endCall(Call* call);

  Scheduler& sched_;
  LineOptions options_;
  std::map<std::string, LineEndpoint*> numbers_;
  std::set<std::string> busyNumbers_, voiceNumbers_;
  std::set<LineEndpoint*> noDialtone_;
  std::set<std::unique_ptr<Call>> calls_;
};

}  // namespace veltrane::modemsim
