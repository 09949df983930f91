// The text input reader: a plain text file drawn with the built-in fax font.
// Each text line (at most 144 characters, tabs expanded) becomes as many raster
// lines as the font is high; a form feed, LinesPerPage lines or the end of the
// file end a page.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "imaging/apf.h"
#include "imaging/fax_font.h"
#include "imaging/imaging_errors.h"
#include "imaging/input_reader.h"
#include "imaging/input_text.h"

namespace veltrane::imaging {
namespace {

constexpr std::size_t kMaxTextLine = 144;
constexpr std::uint64_t kMaxTextFileSize = 64u << 20;

class TextInputReader : public InputReader {
 public:
  std::string DefaultExtension() const override { return "TXT"; }

  int OpenInput(ConverterState& s, const std::string& fileName) override {
    std::error_code ec;
    auto size = std::filesystem::file_size(fileName, ec);
    if (!ec && size > kMaxTextFileSize) return kErrBadGraphicsFormat;
    if (int rc = ReadWholeFile(fileName, text_); rc < 0) return rc;
    font_ = std::make_unique<FaxFont>();
    if (int rc = LoadFaxFont(*font_, "", s.smallFont ? ffSmall : ffStandard, s.useHighRes); rc < 0) return rc;
    s.doubleWidth = false;
    s.halfHeight = false;
    s.centreOffset = 0;
    s.bytesToRead = static_cast<std::uint32_t>(text_.size());
    pos_ = 0;
    fontRow_ = 0;
    linesOnPage_ = 0;
    return 0;
  }

  int ReadLine(ConverterState& s, std::uint8_t* raster, int& length, bool& endOfPage, bool& morePages) override {
    if (fontRow_ == 0) {
      if (PageEnds(s)) {
        endOfPage = true;
        morePages = pos_ < text_.size();
        linesOnPage_ = 0;
        return 0;
      }
      NextTextLine(s);
    }
    fontRow_ += 1;
    const int width = std::max(s.lineWidth - std::clamp(s.leftMargin, 0, s.lineWidth), 0);
    RasterizeTextRow(*font_, line_, fontRow_, std::span<std::uint8_t>(raster, static_cast<std::size_t>(width) / 8));
    length = width / 8;
    if (fontRow_ >= font_->rows) fontRow_ = 0;
    return 0;
  }

  void CloseInput(ConverterState&) override {
    text_.clear();
    font_.reset();
  }

 private:
  // At the start of a text line: does the page end here? A form feed is used up.
  bool PageEnds(ConverterState& s) {
    if (pos_ >= text_.size()) return true;
    if (text_[pos_] == '\f') {
      ++pos_;
      s.bytesRead += 1;
      return true;
    }
    return s.linesPerPage > 0 && linesOnPage_ >= s.linesPerPage;
  }

  void NextTextLine(ConverterState& s) {
    std::string raw;
    std::size_t start = pos_;
    while (pos_ < text_.size()) {
      char c = static_cast<char>(text_[pos_]);
      if (c == '\n' || c == '\f') break;
      if (c == '\r') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
        break;
      }
      if (raw.size() < kMaxTextLine) raw += c;
      ++pos_;
    }
    if (pos_ < text_.size() && text_[pos_] != '\f') ++pos_;  // the line end (a form feed ends the page next)
    s.bytesRead += static_cast<std::uint32_t>(pos_ - start);
    const int fitting = std::max(s.lineWidth - std::clamp(s.leftMargin, 0, s.lineWidth), 0) / std::max<int>(font_->pixelWidth, 1);
    line_ = ExpandTabs(raw, s.tabStop);
    if (line_.size() > static_cast<std::size_t>(fitting)) line_.resize(static_cast<std::size_t>(fitting));
    linesOnPage_ += 1;
  }

  std::vector<std::uint8_t> text_;
  std::unique_ptr<FaxFont> font_;
  std::size_t pos_ = 0;
  std::string line_;
  int fontRow_ = 0;  // 0: the next raster line starts a new text line
  int linesOnPage_ = 0;
};

}  // namespace

std::string ExpandTabs(std::string_view line, int tabStop) {
  std::string out;
  for (char c : line) {
    if (c == '\t') {
      // A tab interval below 1 would never reach the next stop.
      const std::size_t stop = static_cast<std::size_t>(std::max(tabStop, 1));
      do out += ' ';
      while (out.size() % stop != 0);
    } else {
      out += c;
    }
  }
  return out;
}

std::unique_ptr<InputReader> MakeTextInputReader() { return std::make_unique<TextInputReader>(); }

}  // namespace veltrane::imaging
