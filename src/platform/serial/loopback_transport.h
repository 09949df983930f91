// Two in-process transports joined back to back on a clock: what one end
// writes the other reads, at the line's speed (10 bits a byte) and with a
// bounded in-flight capacity, so buffer levels, pacing and back-pressure behave
// as on a real line. The far end is handed to a test or an in-process peer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

#include "platform/serial/clock.h"
#include "platform/serial/transport.h"

namespace veltrane::serial {

struct LoopbackOptions {
  int bitsPerSecond = 0;           // 0: bytes arrive at once
  std::size_t capacity = 4096;     // bytes on the wire (not yet landed) before writes stop
};

class LoopbackTransport : public Transport {
 public:
  // Makes the two joined ends.
  static std::pair<std::unique_ptr<LoopbackTransport>, std::unique_ptr<LoopbackTransport>> makePair(
      Clock& clock, const LoopbackOptions& options = {});
  ~LoopbackTransport() override;

  std::string name() const override { return name_; }
  long read(uint8_t* dst, std::size_t max) override;
  long write(const uint8_t* src, std::size_t n) override;
  int setLine(const LineSettings& line) override;
  int setHardwareFlow(const HardwareFlow&) override { return 0; }
  int setDtr(bool on) override;
  int setRts(bool on) override;
  ModemStatus modemStatus() override;
  void discardInput() override;
  void discardOutput() override;
  int64_t nextWakeMs(int64_t now) const override;
  bool hasInput() const override;

  // Line states as seen from this end: what the far end set.
  bool peerDtr() const;
  bool peerRts() const;
  // Sets what this end reports as DCD to the far end (a modem raising carrier).
  void setCarrier(bool on);
  void setName(std::string name) { name_ = std::move(name); }

 private:
  struct Shared;
  struct Direction;
  LoopbackTransport(std::shared_ptr<Shared> shared, int side);
  std::size_t inFlight(const Direction& d) const;

  std::shared_ptr<Shared> shared_;
  int side_;
  std::string name_;
};

}  // namespace veltrane::serial
