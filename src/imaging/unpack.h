// The unpacker core: decodes one page of an APF file into raster lines, passes
// them to an output sink, and can assemble them into a one-bit bitmap.
//
// Lines reach the sink most significant bit first, 1 = black (before the
// optional inversion), with their byte length: 216, 256, 108 or 128 when
// halved, or 0 for an all-white line released by blank-line compression.
//
// Bounds on hostile input: the page data is read in blocks of at most 4096
// bytes and never beyond the page's DataLength or the end of the file; work is
// linear in the page's bytes; and at most kMaxLinesPerPage lines of a page
// reach the sink, so a bitmap never grows beyond 32768 x 256 bytes (8 MB).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "imaging/apf.h"
#include "imaging/bitmap.h"
#include "imaging/imaging_errors.h"
#include "imaging/t4_decode.h"

namespace veltrane::imaging {

// Core flags.
inline constexpr std::uint16_t ufYield = 1;
inline constexpr std::uint16_t ufDoubleHeight = 2;
inline constexpr std::uint16_t ufHalfWidth = 4;
inline constexpr std::uint16_t ufAbort = 8;
inline constexpr std::uint16_t ufDefault = ufYield | ufDoubleHeight;

// Calls to the output sink: a line (0), or the start (1) and end (2) of a page.
inline constexpr int kUnpackLine = 0;
inline constexpr int kUnpackStarting = 1;
inline constexpr int kUnpackEnding = 2;

// More lines than any real fax page has (over four metres at fine resolution,
// counted after doubling); lines beyond it end the page early.
inline constexpr int kMaxLinesPerPage = 32768;


struct UnpackerState;

// Receives each line (flags kUnpackLine) and the Starting/Ending calls.
// Returns 0, or an error code that ends the decode with that result.
using UnpackOutputSink =
    std::function<int(UnpackerState& state, int flags, const std::uint8_t* data, int length)>;
// Progress: (file name, page number, bytes unpacked, bytes to unpack).
using UnpackStatusHook = std::function<void(const std::string& fileName, unsigned pageNumber,
                                            std::uint32_t bytesUnpacked,
                                            std::uint32_t bytesToUnpack)>;
// Lets one pending event run: 0, or kErrGotQuitMsg when the application quits.
using UnpackYieldHook = std::function<int()>;

struct BitmapAssembly {
  int lineCount = 0;
  int widestLine = 1;  // bytes
  int slotSize = kLineBytesNormal;
  std::vector<std::uint8_t> slots;
  int horizMult = 1, horizDiv = 1, vertMult = 1, vertDiv = 1;
  int width = 0, height = 0;
  MonoBitmap bitmap;
};

struct UnpackerState {
  unsigned pageNumber = 0;
  std::uint32_t lineCounter = 0;
  std::uint16_t flags = ufDefault;
  std::uint32_t invalidCodes = 0;  // kept across pages
  int whitespaceFrom = 0, whitespaceTo = 0;
  int pendingBlankLines = 0;
  std::uint32_t bytesToUnpack = 0;
  std::uint32_t bytesUnpacked = 0;
  ApfFileHeader fileHeader;
  ApfPageHeader pageHeader;
  int linesOutput = 0;  // on this page, toward kMaxLinesPerPage
  bool invert = false;
  std::string fileName;

  UnpackOutputSink outputSink;
  UnpackStatusHook statusHook;
  UnpackYieldHook yieldHook;
  void* owner = nullptr;
  BitmapAssembly assembly;
  UnpackOutputSink savedSink;

  // Scratch for inverted or halved output lines.
  std::array<std::uint8_t, kLineBufferBytes> scratch{};
};

// Makes a state with flags ufDefault and scaling 1/1/1/1. 0, or -8 when memory
// runs out (then `out` stays empty).
int CreateUnpacker(std::unique_ptr<UnpackerState>& out, void* owner, UnpackOutputSink sink);

// Setting both ufDoubleHeight and ufHalfWidth does nothing; setting one clears the other.
void SetUnpackerFlags(UnpackerState& state, std::uint16_t flags);
void ClearUnpackerFlags(UnpackerState& state, std::uint16_t flags);
// Blank-line compression: runs of at least `from` blank lines become `to` lines.
// -1002 when to > from, or from = 0 with to != 0; (0, 0) turns it off.
int SetWhitespace(UnpackerState& state, int from, int to);
void SetScaling(UnpackerState& state, int horizMult, int horizDiv, int vertMult, int vertDiv);

// Decodes page `pageNumber` (from 1; 0 means 1) of an APF file, passing its lines
// to the output sink. 0 or a negative error code (-8001 for a bad signature, a
// page beyond PageCount or page data cut short; file errors as their codes).
int DecodePage(UnpackerState& state, const std::string& fileName, unsigned pageNumber);
// The same over a whole APF file held in memory.
int DecodePage(UnpackerState& state, std::span<const std::uint8_t> file, unsigned pageNumber);

// Decodes a page into a bitmap as wide as its rightmost non-white byte (rounded
// up to 16 pixels) and scaled as set. A page with no lines gives width and
// height 0, an empty bitmap and 0. With `invert` the bitmap holds 0 for black.
int DecodePageToBitmap(UnpackerState& state, const std::string& fileName, unsigned pageNumber,
                       bool invert, int& width, int& height, MonoBitmap& bitmap);
int DecodePageToBitmap(UnpackerState& state, std::span<const std::uint8_t> file,
                       unsigned pageNumber, bool invert, int& width, int& height,
                       MonoBitmap& bitmap);

}  // namespace veltrane::imaging
