#include "imaging/fax_converter.h"

#include <cstdio>
#include <new>

#include "imaging/converter.h"
#include "imaging/imaging_errors.h"
#include "imaging/input_reader.h"
#include "imaging/input_text.h"
#include "imaging/tiff_input.h"

namespace veltrane::imaging {

// A code that stands for "a user handler threw": the exception itself is
// rethrown once the conversion has cleaned up.
static constexpr int kErrUserHandlerThrew = -1;

// The idUser reader: the component's events supply the lines.
class UserInputReader : public InputReader {
 public:
  explicit UserInputReader(TCustomFaxConverter& owner) : owner_(owner) {}
  std::string DefaultExtension() const override { return owner_.DefUserExtension(); }

  int OpenInput(ConverterState& s, const std::string& fileName) override {
    s.doubleWidth = false;
    s.halfHeight = false;
    s.centreOffset = 0;
    return Guard([&] { owner_.DoOpenUserFile(fileName); });
  }

  int ReadLine(ConverterState& s, std::uint8_t* raster, int& length, bool& endOfPage, bool& morePages) override {
    if (!owner_.OnReadUserLine) {
      endOfPage = true;
      morePages = false;
      return 0;
    }
    length = s.lineWidth / 8;
    int rc = Guard([&] { owner_.OnReadUserLine(owner_, raster, length, endOfPage, morePages); });
    if (rc == 0 && !endOfPage) s.bytesRead += static_cast<std::uint32_t>(std::max(length, 0));
    return rc;
  }

  void CloseInput(ConverterState&) override { Guard([&] { owner_.DoCloseUserFile(); }); }

 private:
  template <typename F>
  int Guard(F&& f) {
    try {
      f();
      return 0;
    } catch (...) {
      if (!owner_.pending_) owner_.SetPendingException(std::current_exception());
      return kErrUserHandlerThrew;
    }
  }
  TCustomFaxConverter& owner_;
};

TCustomFaxConverter::TCustomFaxConverter() = default;
TCustomFaxConverter::~TCustomFaxConverter() = default;

void TCustomFaxConverter::SetOptions(TFaxCvtOptionsSet options) {
  std::uint8_t b = options.Byte();
  if (b & cfYieldOften) b |= cfYield;
  options_ = TFaxCvtOptionsSet::FromByte(b);
}

void TCustomFaxConverter::SetDocumentFile(const std::string& name) {
  if (name == documentFile_) return;
  documentFile_ = name;
  if (!name.empty()) outFileName_ = ChangeExtension(name, ".APF");
}

bool TCustomFaxConverter::DoStatus(bool starting, bool ending, int pages, int lines, std::uint32_t bytesRead,
                                   std::uint32_t bytesToRead) {
  bool abort = false;
  if (OnStatus) OnStatus(*this, starting, ending, pages, lines, bytesRead, bytesToRead, abort);
  return abort;
}

void TCustomFaxConverter::DoOutputLine(const std::uint8_t* data, int length, bool endOfPage, bool morePages) {
  if (OnOutputLine) OnOutputLine(*this, data, length, endOfPage, morePages);
}

void TCustomFaxConverter::DoOpenUserFile(const std::string& name) {
  if (OnOpenUserFile) OnOpenUserFile(*this, name);
}

void TCustomFaxConverter::DoCloseUserFile() {
  if (OnCloseUserFile) OnCloseUserFile(*this);
}

void TCustomFaxConverter::CopyPropertiesTo(ConverterState& s) const {
  s.flags = static_cast<std::uint16_t>(options_.Byte() & 0x1F);
  s.leftMargin = leftMargin_;
  s.topMargin = topMargin_;
  s.useHighRes = resolution_ == TFaxResolution::frHigh;
  s.lineWidth = width_ == TFaxWidth::fwWide ? kLineWidthWide : kLineWidthNormal;
  s.stationId = stationId_.substr(0, kApfSenderIdSize);
  s.tabStop = tabStop_;
  s.linesPerPage = linesPerPage_;
  s.smallFont = fontType_ == TFaxFont::ffSmall;
  s.owner = const_cast<TCustomFaxConverter*>(this);
}

void TCustomFaxConverter::ConvertToApf() {
  using enum TFaxInputDocumentType;
  if (inputDocumentType_ == idNone || inputDocumentType_ == idBitmap) ThrowFaxError(kErrBadArgument);

  state_.reset();
  std::unique_ptr<InputReader> reader;
  try {
    state_ = std::make_unique<ConverterState>();
    switch (inputDocumentType_) {
      case idText: reader = MakeTextInputReader(); break;
      case idPcx: reader = MakePcxInputReader(); break;
      case idDcx: reader = MakeDcxInputReader(); break;
      case idBmp: reader = MakeBmpInputReader(); break;
      case idUser: reader = std::make_unique<UserInputReader>(*this); break;
      case idTiff: reader = MakeTiffInputReader(); break;
      default: break;
    }
  } catch (const std::bad_alloc&) {
    ThrowFaxError(kErrOutOfMemory);
  }
  if (!reader) ThrowFaxError(kErrBadGraphicsFormat);
  stateKind_ = inputDocumentType_;

  ConverterState& s = *state_;
  CopyPropertiesTo(s);
  s.reader = reader.get();
  s.defaultExtension = reader->DefaultExtension();
  // A handler that throws ends the conversion like an abort; its exception is
  // rethrown once the output file is gone.
  s.statusHook = [this](ConverterState& st, bool starting, bool ending) {
    try {
      return DoStatus(starting, ending, st.currentPage, st.currentLine, st.bytesRead, st.bytesToRead);
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
      return true;
    }
  };
  if (YieldHook) {
    s.yieldHook = [this]() {
      try {
        return YieldHook();
      } catch (...) {
        if (!pending_) pending_ = std::current_exception();
        return kErrUserHandlerThrew;
      }
    };
  }
  s.inputFileName = ResolveInputName(documentFile_, s.defaultExtension);
  s.outputFileName = ResolveOutputName(outFileName_, s.inputFileName);

  pending_ = nullptr;
  int rc = ConvertToApfFile(s, *reader);
  reader.reset();
  s.reader = nullptr;
  if (pending_) {
    if (rc == 0) std::remove(s.outputFileName.c_str());  // finished before the handler failed
    std::exception_ptr e = std::move(pending_);
    pending_ = nullptr;
    std::rethrow_exception(e);
  }
  if (rc < 0) ThrowFaxError(rc);
}

}  // namespace veltrane::imaging
