// The byte transport under a ComPort.
//
// ComPort keeps the user-space buffers, flow control, triggers and traces; a
// Transport only moves bytes and drives the lines of one device. Two kinds stand
// behind it: PosixTransport (a terminal device or pseudo-terminal, non-blocking)
// and in-process doubles such as the virtual modems, which have no descriptor
// and instead tell the dispatcher when they next have something to do on the
// port's clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/serial/clock.h"

namespace veltrane::serial {

enum class Parity { None, Odd, Even, Mark, Space };

struct LineSettings {
  int baud = 19200;
  int dataBits = 8;  // 5..8
  Parity parity = Parity::None;
  int stopBits = 1;  // 1 or 2
};

// Hardware flow control. Levels are bytes held in the port's input buffer:
// at `stopLevel` the port stops taking input (and drops RTS when it drives it),
// at `resumeLevel` or below it takes input again.
struct HardwareFlow {
  bool driveRts = false;
  bool requireCts = false;  // hold output while the modem drops CTS
  int stopLevel = 7372;
  int resumeLevel = 819;
};

// Modem-status lines. `available` is false on devices without them
// (pseudo-terminals, sockets); the other fields are then meaningless.
struct ModemStatus {
  bool available = false;
  bool cts = false;
  bool dsr = false;
  bool ri = false;
  bool dcd = false;
};

// Bits of the modem-status trigger's level: which lines to watch for a change.
inline constexpr int kMsCts = 0x10;
inline constexpr int kMsDsr = 0x20;
inline constexpr int kMsRi = 0x40;
inline constexpr int kMsDcd = 0x80;

class Transport {
 public:
  virtual ~Transport() = default;

  // Device path or a descriptive name, for the trace and log headers.
  virtual std::string name() const = 0;

  // Bytes that have arrived: >0 bytes copied, 0 when none wait, <0 an error code.
  virtual long read(uint8_t* dst, std::size_t max) = 0;
  // Bytes accepted for sending: may be fewer than n (0 when the device is full
  // for now); <0 an error code.
  virtual long write(const uint8_t* src, std::size_t n) = 0;

  virtual int setLine(const LineSettings& line) = 0;
  virtual int setHardwareFlow(const HardwareFlow& flow) = 0;
  virtual int setDtr(bool on) = 0;
  virtual int setRts(bool on) = 0;
  virtual ModemStatus modemStatus() = 0;

  // Drop bytes held below the port (kernel queues, a double's pending output).
  virtual void discardInput() {}
  virtual void discardOutput() {}

  // Descriptor to watch for readability/writability, or -1 (in-process).
  virtual int pollFd() const { return -1; }

  // In-process transports (no descriptor) are driven on the port's clock:
  //  - nextWakeMs: time of the next event on the double's own timeline (a
  //    modem's timer, a byte landing, room appearing for our writes); kNever
  //    when it has none. advance() must consume every event due by `now`, so
  //    a deadline in the past is never reported twice.
  //  - advance: runs the double's timeline up to `now`; called on every
  //    service of the port, before reading.
  //  - hasInput: bytes for the port are ready to be read now.
  virtual int64_t nextWakeMs(int64_t /*now*/) const { return kNever; }
  virtual void advance(int64_t /*nowMs*/) {}
  virtual bool hasInput() const { return false; }

  // Set by the port that owns the transport. A double calls wake() when its
  // wake-up time or input changes for a reason the port did not cause (its
  // peer wrote to it, say), so an event loop that sleeps until the last
  // deadline it was given looks again.
  void setWakeCallback(std::function<void()> callback) { wake_ = std::move(callback); }

 protected:
  void wake() const {
    if (wake_) wake_();
  }

 private:
  std::function<void()> wake_;
};

}  // namespace veltrane::serial
