// The raster-line coder: one raster line (most significant bit first, 1 = black)
// into T.4 one-dimensional MH codes in the state's coded-line buffer, bits
// filling each byte from bit 0 up. The fax engine calls these directly.
#pragma once

#include <cstdint>

#include "imaging/converter_state.h"

namespace veltrane::imaging {

// ORs a code (first bit in bit 0, at most 16 bits) in at the state's bit position.
void PutCode(ConverterState& state, std::uint16_t code, int length);
// Make-up code(s) for the multiple of 64, then the terminating code.
void PutRun(ConverterState& state, int length, bool black);

// Codes one raster line: a 16-bit EOL, then the runs of the left margin and the
// raster, covering exactly lineWidth pixels. Afterwards byteOffset is the number
// of coded bytes (the last code's byte plus one or two zero bytes).
// `raster` must hold lineWidth / 8 bytes.
void EncodeRasterLine(ConverterState& state, const std::uint8_t* raster);

// A top-margin line: a 12-bit EOL and one white run of the whole width.
// Afterwards byteOffset is the number of coded bytes.
void EncodeBlankLine(ConverterState& state);

// Codes the end-of-page sequence and copies its 12 bytes into `target`; returns 12.
int BuildEndOfPage(ConverterState& state, std::uint8_t* target);

}  // namespace veltrane::imaging
