#include "imaging/converter.h"

#include <cstdio>

#include "imaging/imaging_errors.h"
#include "imaging/t4_encode.h"

namespace veltrane::imaging {

bool HasExtension(std::string_view name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  return name.find_first_of("\\/", dot) == std::string_view::npos;
}

std::string ChangeExtension(std::string_view name, std::string_view ext) {
  std::string base(name);
  if (HasExtension(name)) base.erase(name.rfind('.'));
  return base + std::string(ext);
}

std::string ResolveInputName(std::string_view documentFile, std::string_view defaultExtension) {
  std::string name(documentFile);
  if (!HasExtension(name)) name += "." + std::string(defaultExtension);
  return name;
}

std::string ResolveOutputName(std::string_view outFileName, std::string_view inputName) {
  if (!outFileName.empty()) {
    std::string name(outFileName);
    if (!HasExtension(name)) name += ".APF";
    return name;
  }
  return ChangeExtension(inputName, ".APF");
}

namespace {

class ApfSink : public LineSink {
 public:
  explicit ApfSink(ApfWriter& writer) : writer_(writer) {}
  int Line(const std::uint8_t* data, std::size_t length) override { return writer_.WriteLine(data, length); }
  int EndPage() override { return writer_.EndPage(); }

 private:
  ApfWriter& writer_;
};

bool Aborted(ConverterState& s, bool starting, bool ending) {
  return s.statusHook && s.statusHook(s, starting, ending);
}

int YieldOnce(ConverterState& s) { return s.yieldHook ? s.yieldHook() : 0; }

// The reader call with its bookkeeping: line count first, progress after.
int ReadNextLine(ConverterState& s, InputReader& reader, bool& endOfPage, bool& morePages) {
  s.currentLine += 1;
  int length = 0;
  int rc = reader.ReadLine(s, s.raster.data(), length, endOfPage, morePages);
  if (rc < 0) return rc;
  return Aborted(s, false, false) ? kErrConvertAbort : 0;
}

void ClearRaster(ConverterState& s) {
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(s.lineWidth, 0)) / 8, kConverterBufferSize);
  std::fill_n(s.raster.begin(), n, 0);
}

int ConvertPage(ConverterState& s, InputReader& reader, LineSink& sink, bool& morePages) {
  for (int i = 0; i < s.topMargin; ++i) {
    EncodeBlankLine(s);
    if (int rc = sink.Line(s.codedLine.data(), static_cast<std::size_t>(s.byteOffset)); rc < 0) return rc;
  }
  bool endOfPage = false;
  ClearRaster(s);
  if (int rc = ReadNextLine(s, reader, endOfPage, morePages); rc < 0) return rc;
  const bool yieldOften = (s.flags & cfYield) && (s.flags & cfYieldOften);
  while (!endOfPage) {
    if (!(s.halfHeight && s.currentLine % 2 == 0)) {
      EncodeRasterLine(s, s.raster.data());
      if (int rc = sink.Line(s.codedLine.data(), static_cast<std::size_t>(s.byteOffset)); rc < 0) return rc;
    }
    ClearRaster(s);
    if (int rc = ReadNextLine(s, reader, endOfPage, morePages); rc < 0) return rc;
    if (yieldOften && s.currentLine % 16 == 0) {
      if (int rc = YieldOnce(s); rc < 0) return rc;
    }
  }
  if (int rc = sink.EndPage(); rc < 0) return rc;
  if (s.flags & cfYield) return YieldOnce(s);
  return 0;
}

void DeleteTemporaryFile(ConverterState& s) {
  if (!s.tempDitherFile.empty()) {
    std::remove(s.tempDitherFile.c_str());
    s.tempDitherFile.clear();
  }
}

}  // namespace

int RunConversion(ConverterState& s, InputReader& reader, LineSink& sink) {
  s.currentPage = 0;
  s.currentLine = 0;
  if (Aborted(s, true, false)) return kErrConvertAbort;
  if (int rc = reader.OpenInput(s, s.inputFileName); rc < 0) {
    // A reader that failed after making a dithered copy leaves it to us.
    DeleteTemporaryFile(s);
    return rc;
  }
  int result = 0;
  bool morePages = true;
  while (morePages && result == 0) {
    s.currentPage += 1;
    s.currentLine = 0;
    morePages = false;
    result = ConvertPage(s, reader, sink, morePages);
  }
  Aborted(s, false, true);  // the answer to the last report does not matter
  reader.CloseInput(s);
  DeleteTemporaryFile(s);
  return result;
}

int ConvertToApfFile(ConverterState& s, InputReader& reader) {
  if (int rc = s.writer.Open(s.outputFileName); rc < 0) {
    s.writer.Abandon();
    return rc;
  }
  std::uint16_t flags = 0;
  if (s.useHighRes) flags |= pfHighRes;
  if (s.lineWidth == kLineWidthWide) flags |= pfWide;
  s.writer.SetPageFlags(flags);
  ApfSink sink(s.writer);
  int rc = RunConversion(s, reader, sink);
  if (rc < 0) {
    s.writer.Abandon();
    return rc;
  }
  return s.writer.Finish(s.stationId);
}

}  // namespace veltrane::imaging
