// The unpacker component: counts the pages of an APF file, reads the resolution
// and width of page 1, and decodes any page into a bitmap. Errors raise the
// exceptions of imaging/fax_exceptions.h with their messages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "imaging/bitmap.h"
#include "imaging/unpack.h"

namespace veltrane::imaging {

using TUnpackerOptionsSet = std::uint8_t;
inline constexpr TUnpackerOptionsSet uoYield = 1;
inline constexpr TUnpackerOptionsSet uoAbort = 2;

enum class TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TCustomFaxUnpacker;

using TUnpackOutputLineEvent =
    std::function<void(TCustomFaxUnpacker& sender, bool starting, bool ending,
                       const std::uint8_t* data, int length, unsigned pageNumber)>;
using TUnpackStatusEvent =
    std::function<void(TCustomFaxUnpacker& sender, const std::string& fileName, unsigned pageNumber,
                       std::uint32_t bytesUnpacked, std::uint32_t bytesToUnpack)>;

class TCustomFaxUnpacker {
 public:
  TCustomFaxUnpacker() = default;
  virtual ~TCustomFaxUnpacker() = default;
  TCustomFaxUnpacker(const TCustomFaxUnpacker&) = delete;
  TCustomFaxUnpacker& operator=(const TCustomFaxUnpacker&) = delete;

  TUnpackerOptionsSet Options() const { return options_; }
  // Adding uoAbort during a decode ends that decode early, with success.
  void SetOptions(TUnpackerOptionsSet options);
  bool WhitespaceCompression = false;
  int WhitespaceFrom = 0;
  int WhitespaceTo = 0;
  bool Scaling = false;
  int HorizMult() const { return horizMult_; }
  int HorizDiv() const { return horizDiv_; }
  int VertMult() const { return vertMult_; }
  int VertDiv() const { return vertDiv_; }
  // Assigning 0 is ignored.
  void SetHorizMult(int v) { if (v != 0) horizMult_ = v; }
  void SetHorizDiv(int v) { if (v != 0) horizDiv_ = v; }
  void SetVertMult(int v) { if (v != 0) vertMult_ = v; }
  void SetVertDiv(int v) { if (v != 0) vertDiv_ = v; }
  TAutoScaleMode AutoScaleMode = TAutoScaleMode::asDoubleHeight;
  const std::string& InFileName() const { return inFileName_; }
  // A name that differs ignoring case is stored, and OutFileName becomes it
  // without its extension.
  void SetInFileName(const std::string& name);
  std::string OutFileName;
  TUnpackOutputLineEvent OnOutputLine;
  TUnpackStatusEvent OnStatus;
  // Stand-in for letting pending window messages run during a decode: 0, or
  // kErrGotQuitMsg when the application is quitting.
  UnpackYieldHook YieldHook;

  unsigned CountPages();
  bool FirstPageHighRes();
  bool FirstPageWide();
  // Page n decoded into a new bitmap, 1 = black (see fax_unpacker.cpp on
  // inversion). A page with no lines gives an empty bitmap.
  std::unique_ptr<MonoBitmap> PageToBitmap(unsigned pageNumber);
  // Decodes page n line by line into OnOutputLine.
  void UnpackPage(unsigned pageNumber);

  // Invalid codes met by the last operation's decode.
  std::uint32_t InvalidCodes() const { return state_ ? state_->invalidCodes : 0; }

 protected:
  virtual void OutputLine(bool starting, bool ending, const std::uint8_t* data, int length,
                          unsigned pageNumber);
  virtual void Status(const std::string& fileName, unsigned pageNumber,
                      std::uint32_t bytesUnpacked, std::uint32_t bytesToUnpack);

 private:
  void MakeState();
  std::uint16_t PageFlagsOfFirstPage();
  int SinkLine(int flags, const std::uint8_t* data, int length);

  TUnpackerOptionsSet options_ = uoYield;
  int horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
  std::string inFileName_;
  std::unique_ptr<UnpackerState> state_;
  bool decoding_ = false;
};

class TFaxUnpacker : public TCustomFaxUnpacker {};

}  // namespace veltrane::imaging
