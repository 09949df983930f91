// HDLC framing pieces shared by the modems and the remote fax machine: the
// frame check sequence, DLE transparency on the host link, and bit order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::modemsim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kXon = 0x11;
inline constexpr std::uint8_t kXoff = 0x13;
inline constexpr std::uint8_t kDc2 = 0x12;
inline constexpr std::uint8_t kCan = 0x18;

// ISO 3309 FCS (CRC-16/X.25): reflected 0x1021, preset 0xFFFF, complemented.
std::uint16_t hdlcFcs(const std::uint8_t* data, std::size_t n);
// Appends the FCS low byte first, the order in which it goes on the line.
void appendFcs(Bytes& frame);
// True when the last two bytes are the FCS of the bytes before them.
bool fcsValid(const Bytes& frameWithFcs);

// Doubles every DLE, as a modem does for bytes it hands to the host.
void appendDleStuffed(Bytes& out, const std::uint8_t* data, std::size_t n);

// Decodes DLE transparency in a host-to-modem byte stream, one byte at a time.
class DleDecoder {
 public:
  enum class Event { None, Byte, Command };  // Command: DLE + a byte other than DLE
  Event feed(std::uint8_t b);
  std::uint8_t value() const { return value_; }
  void reset() { afterDle_ = false; }

 private:
  bool afterDle_ = false;
  std::uint8_t value_ = 0;
};

std::uint8_t reverseBits(std::uint8_t b);

}  // namespace veltrane::modemsim
