#include "imaging/fax_unpacker.h"

#include <strings.h>

#include "imaging/fax_exceptions.h"

namespace veltrane::imaging {

namespace {

// The exception raised by an event handler becomes the code that ends the decode.
constexpr int kErrHandlerFailed = -1;

void Check(int result) {
  if (result != 0) ThrowFaxError(result);
}

class DecodeScope {
 public:
  explicit DecodeScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~DecodeScope() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

void TCustomFaxUnpacker::SetOptions(TUnpackerOptionsSet options) {
  options_ = options;
  if ((options & uoAbort) && decoding_ && state_) state_->flags |= ufAbort;
}

void TCustomFaxUnpacker::SetInFileName(const std::string& name) {
  if (name.size() == inFileName_.size() && ::strcasecmp(name.c_str(), inFileName_.c_str()) == 0)
    return;
  inFileName_ = name;
  const auto slash = name.find_last_of('/');
  const auto dot = name.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  OutFileName = hasExtension ? name.substr(0, dot) : name;
}

int TCustomFaxUnpacker::SinkLine(int flags, const std::uint8_t* data, int length) {
  try {
    OutputLine(flags == kUnpackStarting, flags == kUnpackEnding, data, length,
               state_ ? state_->pageNumber : 0);
  } catch (const EFaxException& e) {
    return e.Code() < 0 ? e.Code() : kErrHandlerFailed;
  } catch (...) {
    return kErrHandlerFailed;
  }
  return 0;
}

void TCustomFaxUnpacker::MakeState() {
  state_.reset();
  std::unique_ptr<UnpackerState> state;
  Check(CreateUnpacker(state, this, [this](UnpackerState&, int flags, const std::uint8_t* data,
                                           int length) { return SinkLine(flags, data, length); }));
  ClearUnpackerFlags(*state, 0xFFFF);
  if (options_ & uoYield) SetUnpackerFlags(*state, ufYield);
  if (AutoScaleMode == TAutoScaleMode::asDoubleHeight) SetUnpackerFlags(*state, ufDoubleHeight);
  if (AutoScaleMode == TAutoScaleMode::asHalfWidth) SetUnpackerFlags(*state, ufHalfWidth);
  if (WhitespaceCompression) Check(SetWhitespace(*state, WhitespaceFrom, WhitespaceTo));
  if (Scaling) SetScaling(*state, horizMult_, horizDiv_, vertMult_, vertDiv_);
  state->statusHook = [this](const std::string& fileName, unsigned page, std::uint32_t done,
                             std::uint32_t total) { Status(fileName, page, done, total); };
  state->yieldHook = YieldHook;
  state_ = std::move(state);
}

unsigned TCustomFaxUnpacker::CountPages() {
  MakeState();
  ApfFileHeader header;
  Check(ReadFaxHeader(inFileName_, header));
  return header.PageCount;
}

std::uint16_t TCustomFaxUnpacker::PageFlagsOfFirstPage() {
  MakeState();
  ApfPageHeader page;
  Check(ReadPageHeader(inFileName_, 1, page));
  return page.PageFlags;
}

bool TCustomFaxUnpacker::FirstPageHighRes() { return PageFlagsOfFirstPage() & pfHighRes; }
bool TCustomFaxUnpacker::FirstPageWide() { return PageFlagsOfFirstPage() & pfWide; }

// Windows one-bit bitmaps show a 0 bit as black, so the page used to be decoded
// inverted for them. MonoBitmap shows a 1 bit as black; decoding without
// inverting gives the same picture.
std::unique_ptr<MonoBitmap> TCustomFaxUnpacker::PageToBitmap(unsigned pageNumber) {
  MakeState();
  DecodeScope scope(decoding_);
  auto bitmap = std::make_unique<MonoBitmap>();
  int width = 0, height = 0;
  Check(DecodePageToBitmap(*state_, inFileName_, pageNumber, false, width, height, *bitmap));
  return bitmap;
}

void TCustomFaxUnpacker::UnpackPage(unsigned pageNumber) {
  MakeState();
  DecodeScope scope(decoding_);
  Check(DecodePage(*state_, inFileName_, pageNumber));
}

void TCustomFaxUnpacker::OutputLine(bool starting, bool ending, const std::uint8_t* data,
                                    int length, unsigned pageNumber) {
  if (OnOutputLine) OnOutputLine(*this, starting, ending, data, length, pageNumber);
}

void TCustomFaxUnpacker::Status(const std::string& fileName, unsigned pageNumber,
                                std::uint32_t bytesUnpacked, std::uint32_t bytesToUnpack) {
  if (OnStatus) OnStatus(*this, fileName, pageNumber, bytesUnpacked, bytesToUnpack);
}

}  // namespace veltrane::imaging
