// The per-conversion state of the converter core: options as the input reader
// and the coder see them, the position of the coder's next bit, page and line
// counters, the two fixed 4096-byte buffers and the APF writer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "imaging/apf.h"

namespace veltrane::imaging {

class InputReader;

// `flags` bits (the converter's options byte).
inline constexpr std::uint16_t cfDoubleWidth = 1;
inline constexpr std::uint16_t cfHalfHeight = 2;
inline constexpr std::uint16_t cfCenterImage = 4;
inline constexpr std::uint16_t cfYield = 8;
inline constexpr std::uint16_t cfYieldOften = 16;
inline constexpr std::uint16_t cfDefault = cfDoubleWidth | cfCenterImage | cfYield;

inline constexpr int kLineWidthNormal = 1728;
inline constexpr int kLineWidthWide = 2048;
inline constexpr std::size_t kConverterBufferSize = 4096;

struct ConverterState {
  bool useHighRes = false;
  bool doubleWidth = false;  // decided by the input reader
  bool halfHeight = false;   // decided by the input reader
  std::uint16_t flags = cfDefault;
  int byteOffset = 0;  // next free bit of codedLine
  int bitOffset = 0;
  int lineWidth = kLineWidthNormal;
  int leftMargin = 50;
  int topMargin = 0;
  int currentPage = 0;
  int currentLine = 0;
  int centreOffset = 0;  // bytes the reader shifts each raster line right
  std::uint32_t bytesRead = 0;
  std::uint32_t bytesToRead = 0;

  // Text input only.
  int tabStop = 4;
  int linesPerPage = 60;
  bool smallFont = false;

  // Bytes of codedLine that may be non-zero (cleared before the next line).
  int codedHighWater = static_cast<int>(kConverterBufferSize);
  std::array<std::uint8_t, kConverterBufferSize> codedLine{};
  std::array<std::uint8_t, kConverterBufferSize> raster{};

  InputReader* reader = nullptr;
  void* owner = nullptr;
  // Status hook: (state, starting, ending) -> true to abort.
  std::function<bool(ConverterState&, bool, bool)> statusHook;
  // Lets one pending event run; returns 0, or kErrGotQuitMsg when the
  // application is quitting.
  std::function<int()> yieldHook;

  std::string defaultExtension;
  std::string inputFileName;
  std::string outputFileName;
  std::string stationId;
  std::string tempDitherFile;  // "~DIT..." file made for a colour BMP, deleted at the end

  ApfWriter writer;
};

}  // namespace veltrane::imaging
