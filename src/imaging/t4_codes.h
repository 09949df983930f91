// Modified Huffman code tables of T.4 one-dimensional coding, in the form the
// recommendation prints them (first bit on the left), and the same codes
// bit-reversed for writing: a code is stored with its first bit in bit 0, so
// putting one is a shift and an OR. The reversal is done once, at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace veltrane::imaging {

struct T4Code {
  std::uint16_t bits = 0;  // first bit of the code in bit 0
  std::uint8_t length = 0;
};

struct T4CodeTables {
  std::array<T4Code, 64> whiteTerminating;
  std::array<T4Code, 64> blackTerminating;
  // Make-up codes by run / 64: index 1 (64) .. 40 (2560). Indices 28..40 are the
  // extended make-up codes shared by both colours.
  std::array<T4Code, 41> whiteMakeUp;
  std::array<T4Code, 41> blackMakeUp;
};

// The tables, built once.
const T4CodeTables& T4Codes();

// EOL: 000000000001.
inline constexpr T4Code kT4Eol12{0x800, 12};
// EOL with four fill bits in front: 15 zero bits and a one.
inline constexpr T4Code kT4Eol16{0x8000, 16};

}  // namespace veltrane::imaging
