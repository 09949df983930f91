// The converter's input readers: one per input kind (BMP, text, TIFF, PCX, DCX,
// user events). The conversion loop opens a reader with the input file name,
// pulls raster lines until it reports the end of a page, and closes it.
//
// A reader sets in the state what it decides from the image: doubleWidth,
// halfHeight, centreOffset and bytesToRead; it adds to bytesRead as it reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/converter_state.h"

namespace veltrane::imaging {

class InputReader {
 public:
  virtual ~InputReader() = default;
  // Default file extension without the dot ("BMP", "TIF", ...), may be empty.
  virtual std::string DefaultExtension() const = 0;
  // 0 or a negative error (kErrBadGraphicsFormat for a file it cannot read).
  virtual int OpenInput(ConverterState& state, const std::string& fileName) = 0;
  // Fills `raster` (at least kConverterBufferSize bytes, cleared by the caller)
  // with the next raster line, most significant bit first, 1 = black.
  // `length` receives the bytes of the line; at the end of a page the reader
  // sets endOfPage (and no line), and morePages when another page follows.
  virtual int ReadLine(ConverterState& state, std::uint8_t* raster, int& length, bool& endOfPage,
                       bool& morePages) = 0;
  virtual void CloseInput(ConverterState& state) = 0;
};

// The readers of this folder (the TIFF one is in imaging/tiff_input.h, the
// text one in imaging/input_text.h):
std::unique_ptr<InputReader> MakeBmpInputReader();
std::unique_ptr<InputReader> MakePcxInputReader();
std::unique_ptr<InputReader> MakeDcxInputReader();

}  // namespace veltrane::imaging
