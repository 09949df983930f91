// T.30 frames as they travel on the line (address, control, FCF, FIF, FCS):
// facsimile control field values, DIS/DCS capability bits, station ids.
//
// Byte and bit order are those of a Class 1 modem's host link: the first bit
// on the line is the least significant bit of each byte, so T.30's bit 1 of the
// FIF is bit value 1 of its first byte, bit 9 is bit value 1 of the second.
#pragma once

#include <cstdint>
#include <string>

#include "modemsim/hdlc.h"

namespace veltrane::modemsim {

namespace fcf {
// Values with the X bit (bit value 1) clear; a frame's FCF is compared after masking it.
inline constexpr std::uint8_t DIS = 0x80, CSI = 0x40, NSF = 0x20;
inline constexpr std::uint8_t DCS = 0x82, TSI = 0x42, NSS = 0x22;
inline constexpr std::uint8_t CFR = 0x84, FTT = 0x44;
inline constexpr std::uint8_t MPS = 0x4E, EOM = 0x8E, EOP = 0x2E;
inline constexpr std::uint8_t MCF = 0x8C, RTN = 0x4C, RTP = 0xCC, PIP = 0xAC, PIN = 0x2C;
inline constexpr std::uint8_t DCN = 0xFA, CRP = 0x1A;
}  // namespace fcf

inline constexpr std::uint8_t kHdlcAddress = 0xFF;
inline constexpr std::uint8_t kControlNotFinal = 0x03;
inline constexpr std::uint8_t kControlFinal = 0x13;
inline constexpr std::size_t kStationIdLength = 20;

const char* fcfName(std::uint8_t fcfValue);

// address, control, FCF (with X bit as given), FIF; no FCS.
Bytes makeFrame(std::uint8_t fcfValue, bool final, const Bytes& fif = {});

struct FrameView {
  bool wellFormed = false;  // address and control bytes as T.30 wants them
  bool final = false;
  std::uint8_t fcf = 0;     // X bit cleared
  Bytes fif;
};
// Parses a frame without its FCS.
FrameView parseFrame(const Bytes& frame);

// A station id travels right-aligned and reversed in 20 bytes.
Bytes encodeStationId(const std::string& id);
std::string decodeStationId(const Bytes& fif);

// What a terminal offers in its DIS or selects in its DCS.
struct FaxCaps {
  int bps = 14400;       // highest rate offered, or the rate chosen
  bool fine = true;
  bool wide = false;
  bool v17 = true;       // DIS: V.17 offered (needed above 9600)
  int scanTimeMs = 0;    // minimum scan-line time
};

Bytes encodeDis(const FaxCaps& caps);  // 4-byte FIF
FaxCaps decodeDis(const Bytes& fif);
Bytes encodeDcs(const FaxCaps& session);
FaxCaps decodeDcs(const Bytes& fif);

// Class 1 modulation code a sender picks for a rate, and the rate of a code.
int modulationForRate(int bps, bool v17);
int rateOfModulation(int code);

}  // namespace veltrane::modemsim
