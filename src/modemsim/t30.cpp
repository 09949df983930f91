#include "modemsim/t30.h"

#include <algorithm>

namespace veltrane::modemsim {

namespace {

// FIF byte 2 (T.30 bits 9-16) and byte 3 (bits 17-24).
constexpr std::uint8_t kBitReceiver = 0x02;   // bit 10
constexpr std::uint8_t kBitV29 = 0x04;        // bit 11
constexpr std::uint8_t kBitV27 = 0x08;        // bit 12
constexpr std::uint8_t kBitV17 = 0x20;        // bit 14
constexpr std::uint8_t kBitFine = 0x40;       // bit 15
constexpr std::uint8_t kWidthMask = 0x03;     // bits 17-18
constexpr std::uint8_t kLengthUnlimited = 0x08;  // bit 20
constexpr std::uint8_t kScanTimeMask = 0x70;  // bits 21-23

struct ScanTime {
  std::uint8_t bits;
  int ms;
};
constexpr ScanTime kScanTimes[] = {{0x70, 0}, {0x10, 5}, {0x20, 10}, {0x00, 20}, {0x40, 40}};

std::uint8_t scanTimeBits(int ms) {
  for (const auto& s : kScanTimes)
    if (s.ms >= ms) return s.bits;
  return 0x40;
}

int scanTimeOf(std::uint8_t byte3) {
  switch (byte3 & kScanTimeMask) {
    case 0x70: return 0;
    case 0x10: return 5;
    case 0x20: case 0x60: return 10;
    case 0x30: case 0x00: return 20;
    default: return 40;
  }
}

// DCS bits 11-14 for each rate (T.30 Table 2).
struct DcsRate {
  std::uint8_t bits;
  int bps;
};
constexpr DcsRate kDcsRates[] = {{0x00, 2400}, {0x08, 4800}, {0x0C, 7200}, {0x04, 9600},
                                 {0x2C, 7200}, {0x24, 9600}, {0x28, 12000}, {0x20, 14400},
                                 {0x10, 14400}, {0x18, 12000}};

}  // namespace

const char* fcfName(std::uint8_t value) {
  switch (value & 0xFE) {
    case fcf::DIS: return "DIS";
    case fcf::CSI: return "CSI";
    case fcf::NSF: return "NSF";
    case fcf::DCS: return "DCS";
    case fcf::TSI: return "TSI";
    case fcf::NSS: return "NSS";
    case fcf::CFR: return "CFR";
    case fcf::FTT: return "FTT";
    case fcf::MPS: return "MPS";
    case fcf::EOM: return "EOM";
    case fcf::EOP: return "EOP";
    case fcf::MCF: return "MCF";
    case fcf::RTN: return "RTN";
    case fcf::RTP: return "RTP";
    case fcf::PIP: return "PIP";
    case fcf::PIN: return "PIN";
    case fcf::DCN: return "DCN";
    case fcf::CRP: return "CRP";
    default: return "?";
  }
}

Bytes makeFrame(std::uint8_t fcfValue, bool final, const Bytes& fif) {
  Bytes f{kHdlcAddress, final ? kControlFinal : kControlNotFinal, fcfValue};
  f.insert(f.end(), fif.begin(), fif.end());
  return f;
}

FrameView parseFrame(const Bytes& frame) {
  FrameView v;
  if (frame.size() < 3) return v;
  v.wellFormed = frame[0] == kHdlcAddress && (frame[1] & 0xEF) == kControlNotFinal;
  v.final = (frame[1] & 0x10) != 0;
  v.fcf = frame[2] & 0xFE;
  v.fif.assign(frame.begin() + 3, frame.end());
  return v;
}

Bytes encodeStationId(const std::string& id) {
  // Right-aligned, then sent last character first: the FIF starts with the
  // id reversed and ends with the padding.
  std::string s = id.substr(0, kStationIdLength);
  s.insert(0, kStationIdLength - s.size(), ' ');
  return Bytes(s.rbegin(), s.rend());
}

std::string decodeStationId(const Bytes& fif) {
  std::size_t n = std::min(fif.size(), kStationIdLength);
  std::string s(fif.begin(), fif.begin() + static_cast<long>(n));
  std::reverse(s.begin(), s.end());
  // Only printable characters survive: the id comes from the far end.
  std::string out;
  for (char c : s)
    if (c >= 32 && c < 127) out += c;
  auto first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

Bytes encodeDis(const FaxCaps& c) {
  std::uint8_t speed = 0;
  if (c.bps >= 4800) speed |= kBitV27;
  if (c.bps >= 7200) speed |= kBitV29;
  if (c.bps >= 12000 || (c.v17 && c.bps >= 7200)) speed |= kBitV17;
  std::uint8_t b2 = kBitReceiver | speed | (c.fine ? kBitFine : 0);
  std::uint8_t b3 = static_cast<std::uint8_t>((c.wide ? 0x01 : 0x00) | kLengthUnlimited |
                                              scanTimeBits(c.scanTimeMs));
  return {0x00, b2, b3, 0x00};
}

FaxCaps decodeDis(const Bytes& fif) {
  FaxCaps c;
  std::uint8_t b2 = fif.size() > 1 ? fif[1] : 0;
  std::uint8_t b3 = fif.size() > 2 ? fif[2] : 0;
  c.v17 = (b2 & kBitV17) != 0;
  if (c.v17) c.bps = 14400;
  else if ((b2 & (kBitV29 | kBitV27)) == (kBitV29 | kBitV27) || (b2 & kBitV29)) c.bps = 9600;
  else if (b2 & kBitV27) c.bps = 4800;
  else c.bps = 2400;
  c.fine = (b2 & kBitFine) != 0;
  c.wide = (b3 & kWidthMask) != 0;
  c.scanTimeMs = scanTimeOf(b3);
  return c;
}

Bytes encodeDcs(const FaxCaps& s) {
  std::uint8_t speed = 0x04;
  for (const auto& r : kDcsRates) {
    if (r.bps == s.bps && ((r.bits & kBitV17) != 0) == (s.bps > 9600 || (s.v17 && s.bps >= 7200))) {
      speed = r.bits;
      break;
    }
  }
  std::uint8_t b2 = kBitReceiver | speed | (s.fine ? kBitFine : 0);
  std::uint8_t b3 = static_cast<std::uint8_t>((s.wide ? 0x01 : 0x00) | kLengthUnlimited |
                                              scanTimeBits(s.scanTimeMs));
  return {0x00, b2, b3, 0x00};
}

FaxCaps decodeDcs(const Bytes& fif) {
  FaxCaps s;
  std::uint8_t b2 = fif.size() > 1 ? fif[1] : 0;
  std::uint8_t b3 = fif.size() > 2 ? fif[2] : 0;
  s.bps = 9600;
  for (const auto& r : kDcsRates)
    if ((b2 & 0x3C) == r.bits) s.bps = r.bps;
  s.v17 = (b2 & kBitV17) != 0;
  s.fine = (b2 & kBitFine) != 0;
  s.wide = (b3 & kWidthMask) != 0;
  s.scanTimeMs = scanTimeOf(b3);
  return s;
}

int modulationForRate(int bps, bool v17) {
  switch (bps) {
    case 14400: return 145;
    case 12000: return 121;
    case 9600: return v17 ? 97 : 96;
    case 7200: return v17 ? 73 : 72;
    case 4800: return 48;
    default: return 24;
  }
}

int rateOfModulation(int code) {
  switch (code) {
    case 3: return 300;
    case 24: return 2400;
    case 48: return 4800;
    case 72: case 73: case 74: return 7200;
    case 96: case 97: case 98: return 9600;
    case 121: case 122: return 12000;
    case 145: case 146: return 14400;
    default: return 0;
  }
}

}  // namespace veltrane::modemsim
