// RTF reader: bytes -> RtfDocument. Toolkit-free so it can be fuzzed on its own.
//
// What it keeps: font and colour tables, character formats (font, size, bold,
// italic, underline, colour), paragraph formats (alignment, indents, spacing,
// line height, page break before, tabs), the page layout, text from \uN and
// from ANSI/DBCS code pages, and this program's placeholder fields. Pictures,
// objects, headers, footnotes and unknown \* destinations are skipped; table
// cells become tab-separated paragraphs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/richtext/rtf_model.h"

namespace veltrane::richtext {

enum RtfReadError {
  kRtfOk = 0,
  kRtfNotRtf = -1,        // does not start with "{\rtf"
  kRtfTooLarge = -2,      // input, decoded text or format changes beyond the limits
  kRtfTooDeep = -3,       // groups nested beyond the limit
};

// A fax memo is a few kilobytes; these keep a hostile file to some 200 MB.
struct RtfReadLimits {
  std::size_t maxInputBytes = 32u << 20;
  std::size_t maxTextChars = 8u << 20;
  std::size_t maxRuns = 1u << 20;  // paragraphs and pieces of text with their own format
  int maxGroupDepth = 256;
};

// Fills `out` (replacing what it held). On a negative result `out` holds an
// empty document and `message` (when given) says why. Unbalanced braces and
// unknown control words are tolerated: what can be read is kept.
int ReadRtf(std::string_view data, RtfDocument& out, std::string* message = nullptr,
            const RtfReadLimits& limits = {});

// Field instruction of a placeholder field as written into \fldinst.
std::string PlaceholderInstruction(int code, bool withMarker);
// Parses such an instruction; returns the code (1..5) or 0 when it is not one.
int ParsePlaceholderInstruction(std::string_view instruction, bool& withMarker);

}  // namespace veltrane::richtext
