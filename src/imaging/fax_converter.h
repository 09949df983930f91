// TFaxConverter: the component that turns a picture or text file into an APF
// fax file. Configure its properties, then call ConvertToApf; a failure is
// raised as one of the exceptions of imaging/fax_exceptions.h and leaves no
// output file behind.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "imaging/converter_state.h"
#include "imaging/fax_exceptions.h"

namespace veltrane::imaging {

enum class TFaxInputDocumentType { idNone, idText, idTiff, idPcx, idDcx, idBmp, idBitmap, idUser };
enum class TFaxCvtOptions { coDoubleWidth, coHalfHeight, coCenterImage, coYield, coYieldOften };
enum class TFaxResolution { frNormal, frHigh };
enum class TFaxWidth { fwNormal, fwWide };
enum class TFaxFont { ffStandard, ffSmall };

// A set of TFaxCvtOptions, stored as one byte with bit i for value i.
class TFaxCvtOptionsSet {
 public:
  constexpr TFaxCvtOptionsSet() = default;
  constexpr TFaxCvtOptionsSet(std::initializer_list<TFaxCvtOptions> options) {
    for (TFaxCvtOptions o : options) bits_ = static_cast<std::uint8_t>(bits_ | Bit(o));
  }
  static constexpr TFaxCvtOptionsSet FromByte(std::uint8_t b) {
    TFaxCvtOptionsSet s;
    s.bits_ = b;
    return s;
  }
  constexpr bool Has(TFaxCvtOptions o) const { return (bits_ & Bit(o)) != 0; }
  constexpr std::uint8_t Byte() const { return bits_; }
  constexpr bool operator==(const TFaxCvtOptionsSet&) const = default;

 private:
  static constexpr std::uint8_t Bit(TFaxCvtOptions o) { return static_cast<std::uint8_t>(1u << static_cast<int>(o)); }
  std::uint8_t bits_ = 0;
};

class TCustomFaxConverter;

using TFaxStatusEvent =
    std::function<void(TCustomFaxConverter& F, bool Starting, bool Ending, int PagesConverted, int LinesConverted,
                       std::uint32_t BytesConverted, std::uint32_t BytesToConvert, bool& Abort)>;
using TFaxOutputLineEvent =
    std::function<void(TCustomFaxConverter& F, const std::uint8_t* Data, int Len, bool EndOfPage, bool MorePages)>;
using TFaxOpenFileEvent = std::function<void(TCustomFaxConverter& F, const std::string& FName)>;
using TFaxCloseFileEvent = std::function<void(TCustomFaxConverter& F)>;
using TFaxReadLineEvent =
    std::function<void(TCustomFaxConverter& F, std::uint8_t* Data, int& Len, bool& EndOfPage, bool& MorePages)>;

class TCustomFaxConverter {
 public:
  TCustomFaxConverter();
  virtual ~TCustomFaxConverter();
  TCustomFaxConverter(const TCustomFaxConverter&) = delete;
  TCustomFaxConverter& operator=(const TCustomFaxConverter&) = delete;

  // Converts DocumentFile into OutFileName (names resolved as described in
  // converter.h). Throws on failure.
  void ConvertToApf();

  // Properties.
  TFaxInputDocumentType InputDocumentType() const { return inputDocumentType_; }
  void SetInputDocumentType(TFaxInputDocumentType t) { inputDocumentType_ = t; }
  TFaxCvtOptionsSet Options() const { return options_; }
  // coYieldOften only works together with coYield, so it brings coYield along.
  void SetOptions(TFaxCvtOptionsSet options);
  TFaxResolution Resolution() const { return resolution_; }
  void SetResolution(TFaxResolution r) { resolution_ = r; }
  TFaxWidth Width() const { return width_; }
  void SetWidth(TFaxWidth w) { width_ = w; }
  int TopMargin() const { return topMargin_; }
  void SetTopMargin(int n) { topMargin_ = n; }
  int LeftMargin() const { return leftMargin_; }
  void SetLeftMargin(int n) { leftMargin_ = n; }
  int LinesPerPage() const { return linesPerPage_; }
  void SetLinesPerPage(int n) { linesPerPage_ = n; }
  int TabStop() const { return tabStop_; }
  void SetTabStop(int n) { tabStop_ = n; }
  // Kept for compatibility: the font always comes from the built-in resource.
  const std::string& FontFile() const { return fontFile_; }
  void SetFontFile(const std::string& f) { fontFile_ = f; }
  TFaxFont FontType() const { return fontType_; }
  void SetFontType(TFaxFont f) { fontType_ = f; }
  const std::string& DocumentFile() const { return documentFile_; }
  // A new non-empty name also sets OutFileName to that name with ".APF".
  void SetDocumentFile(const std::string& name);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& name) { outFileName_ = name; }
  const std::string& DefUserExtension() const { return defUserExtension_; }
  void SetDefUserExtension(const std::string& ext) { defUserExtension_ = ext; }
  const std::string& StationId() const { return stationId_; }
  void SetStationId(const std::string& id) { stationId_ = id; }

  // Events.
  TFaxStatusEvent OnStatus;
  TFaxOutputLineEvent OnOutputLine;
  TFaxOpenFileEvent OnOpenUserFile;
  TFaxCloseFileEvent OnCloseUserFile;
  TFaxReadLineEvent OnReadUserLine;

  // Lets one pending event of the application run during a conversion (when
  // coYield is set). Return kErrGotQuitMsg when the application is quitting;
  // the conversion then ends with EGotQuitMsg.
  std::function<int()> YieldHook;

  // The core state of the last conversion (null before the first one).
  const ConverterState* State() const { return state_.get(); }

  // Called by the user-event input reader; rethrown after cleanup.
  void SetPendingException(std::exception_ptr e) { pending_ = std::move(e); }

 protected:
  // The event glue; each does nothing when its event is unassigned.
  virtual bool DoStatus(bool starting, bool ending, int pages, int lines, std::uint32_t bytesRead,
                        std::uint32_t bytesToRead);
  virtual void DoOutputLine(const std::uint8_t* data, int length, bool endOfPage, bool morePages);
  virtual void DoOpenUserFile(const std::string& name);
  virtual void DoCloseUserFile();

 private:
  friend class UserInputReader;
  void CopyPropertiesTo(ConverterState& s) const;

  TFaxInputDocumentType inputDocumentType_ = TFaxInputDocumentType::idNone;
  TFaxCvtOptionsSet options_ = TFaxCvtOptionsSet::FromByte(static_cast<std::uint8_t>(cfDefault));
  TFaxResolution resolution_ = TFaxResolution::frNormal;
  TFaxWidth width_ = TFaxWidth::fwNormal;
  int topMargin_ = 0;
  int leftMargin_ = 50;
  int linesPerPage_ = 60;
  int tabStop_ = 4;
  std::string fontFile_ = "FAXFONT.FNT";
  TFaxFont fontType_ = TFaxFont::ffStandard;
  std::string documentFile_;
  std::string outFileName_;
  std::string defUserExtension_;
  std::string stationId_;

  TFaxInputDocumentType stateKind_ = TFaxInputDocumentType::idNone;
  std::unique_ptr<ConverterState> state_;
  std::exception_ptr pending_;
};

class TFaxConverter : public TCustomFaxConverter {};

}  // namespace veltrane::imaging
