// The converter core: names of input and output, and the conversion loop that
// pulls raster lines from an input reader, codes them and hands them to a sink
// (the APF writer, or a caller that wants the coded lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "imaging/converter_state.h"
#include "imaging/input_reader.h"

namespace veltrane::imaging {

// Where coded lines go.
class LineSink {
 public:
  virtual ~LineSink() = default;
  virtual int Line(const std::uint8_t* data, std::size_t length) = 0;
  virtual int EndPage() = 0;
};

// A name has an extension when it holds a '.' with no folder separator after
// the last one ('\' as the files were named on their first platform, '/' here).
bool HasExtension(std::string_view name);
// Replaces the extension (or appends one); `ext` includes the dot.
std::string ChangeExtension(std::string_view name, std::string_view ext);
// DocumentFile plus "." and the reader's default extension when it has none.
std::string ResolveInputName(std::string_view documentFile, std::string_view defaultExtension);
// OutFileName (with ".APF" when it has no extension), else the input's name with ".APF".
std::string ResolveOutputName(std::string_view outFileName, std::string_view inputName);

// Runs the loop over every page the reader gives. Returns 0 or a negative code.
int RunConversion(ConverterState& state, InputReader& reader, LineSink& sink);

// Opens state.outputFileName with the state's writer, converts
// state.inputFileName into it and finishes the file; on any error the output
// file is deleted.
int ConvertToApfFile(ConverterState& state, InputReader& reader);

}  // namespace veltrane::imaging
