#include "modemsim/hdlc.h"

namespace veltrane::modemsim {

std::uint16_t hdlcFcs(const std::uint8_t* data, std::size_t n) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return static_cast<std::uint16_t>(~crc);
}

void appendFcs(Bytes& frame) {
  std::uint16_t fcs = hdlcFcs(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(fcs >> 8));
}

bool fcsValid(const Bytes& f) {
  if (f.size() < 3) return false;
  std::uint16_t fcs = hdlcFcs(f.data(), f.size() - 2);
  return f[f.size() - 2] == (fcs & 0xFF) && f[f.size() - 1] == (fcs >> 8);
}

void appendDleStuffed(Bytes& out, const std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(data[i]);
    if (data[i] == kDle) out.push_back(kDle);
  }
}

DleDecoder::Event DleDecoder::feed(std::uint8_t b) {
  if (!afterDle_) {
    if (b == kDle) {
      afterDle_ = true;
      return Event::None;
    }
    value_ = b;
    return Event::Byte;
  }
  afterDle_ = false;
  value_ = b;
  return b == kDle ? Event::Byte : Event::Command;
}

std::uint8_t reverseBits(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}

}  // namespace veltrane::modemsim
