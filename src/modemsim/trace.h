// A trace of host traffic and simulator events: one time-stamped line per
// chunk, bytes shown as text where printable and as <hex> otherwise.
#pragma once

#include <cstdio>
#include <string>

#include "modemsim/hdlc.h"

namespace veltrane::modemsim {

class Trace {
 public:
  Trace() = default;
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  bool open(const std::string& path);  // "-" for standard error
  bool isOpen() const { return file_ != nullptr; }
  // Direction "H>M" (host to modem) or "M>H"; long chunks are cut.
  void bytes(const std::string& who, const char* direction, const std::uint8_t* data, std::size_t n);
  void event(const std::string& who, const std::string& text);
  static std::string printable(const std::uint8_t* data, std::size_t n, std::size_t limit);

 private:
  void line(const std::string& text);
  std::FILE* file_ = nullptr;
  bool ownFile_ = false;
};

}  // namespace veltrane::modemsim
