// A terminal device (serial port, USB modem or pseudo-terminal) opened
// non-blocking. Opening takes an exclusive lock so two programs never share
// a modem. Devices without modem-status lines (pseudo-terminals) get DTR
// dropped the way soft modems understand it: the speed is set to 0 (B0).
#pragma once

#include <memory>
#include <string>

#include "platform/serial/transport.h"

namespace veltrane::serial {

class PosixTransport : public Transport {
 public:
  // Opens `path`; on failure returns nullptr and sets `error` to
  // kErrNoSuchPort, kErrPortInUse, kErrAlreadyOpen or kErrDevice.
  static std::unique_ptr<PosixTransport> open(const std::string& path, int& error);
  ~PosixTransport() override;

  std::string name() const override { return path_; }
  long read(uint8_t* dst, std::size_t max) override;
  long write(const uint8_t* src, std::size_t n) override;
  int setLine(const LineSettings& line) override;
  int setHardwareFlow(const HardwareFlow& flow) override;
  int setDtr(bool on) override;
  int setRts(bool on) override;
  ModemStatus modemStatus() override;
  void discardInput() override;
  void discardOutput() override;
  int pollFd() const override { return fd_; }

  bool hasStatusLines() const { return statusLines_; }

 private:
  PosixTransport(int fd, std::string path, std::string key);
  int applyTermios();

  int fd_;
  std::string path_;
  std::string key_;  // identity of the device in this process's open set
  bool statusLines_ = false;
  LineSettings line_;
  bool crtscts_ = false;
  bool dtrDropped_ = false;  // speed held at B0 in place of DTR
};

// Highest standard speed the terminal layer knows, for validation.
bool isSupportedBaud(int baud);

}  // namespace veltrane::serial
