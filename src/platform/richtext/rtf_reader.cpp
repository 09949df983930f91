#include "platform/richtext/rtf_reader.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/richtext/rtf_codepage.h"

namespace veltrane::richtext {
namespace {

constexpr std::size_t kMaxFonts = 4096;
constexpr std::size_t kMaxColors = 4096;
constexpr std::size_t kMaxFontName = 256;
constexpr std::size_t kMaxInstruction = 256;
constexpr std::size_t kMaxTabs = 64;
constexpr int kMaxWordLength = 32;
constexpr char16_t kLineSeparator = 0x2028;

enum class Dest { Text, Skip, FontTable, ColorTable, FieldInstruction };

struct Field {
  std::string instruction;
  int code = 0;
  bool markerPending = false;
};

struct Group {
  Dest dest = Dest::Text;
  RtfCharFormat chr;
  int fontNumber = -1;     // RTF font number, -1 = document default
  RtfParaFormat para;
  RtfTabKind nextTabKind = RtfTabKind::Left;
  int unicodeSkip = 1;     // \ucN
  bool hidden = false;     // \v
  int field = -1;          // index into fields_ while inside \field
  bool fieldResult = false;
  bool starred = false;    // the group began with \*
  bool firstWord = true;   // no control word seen yet in this group
};

struct ControlWord {
  std::string_view word;
  bool hasParam = false;
  int32_t param = 0;
};

class Reader {
 public:
  Reader(std::string_view data, const RtfReadLimits& limits, RtfDocument& doc)
      : in_(data), limits_(limits), doc_(doc) {}

  int run(std::string* message);

 private:
  // Tokens.
  bool readControl(std::size_t& pos, ControlWord& out, char& symbol);
  void openGroup();
  void closeGroup();
  // Dispatch.
  void onWord(const ControlWord& cw);
  void onSymbol(char symbol, std::size_t& pos);
  void onTextByte(unsigned char byte);
  bool destinationWord(const ControlWord& cw);
  bool characterWord(const ControlWord& cw);
  bool paragraphWord(const ControlWord& cw);
  bool layoutWord(const ControlWord& cw);
  bool specialCharacter(const ControlWord& cw);
  // Text.
  void flushBytes();
  void emit(std::u16string_view text);
  void emitChar(char16_t c) { emit(std::u16string_view(&c, 1)); }
  void endParagraph();
  void pageBreak();
  // After the last \par: text, or a \pard that starts an (empty) paragraph.
  bool lastParagraphOpen() const { return !current_.runs.empty() || pardSinceParagraphEnd_; }
  int codePageNow() const;
  int fontIndexOf(int fontNumber) const;
  // Tables.
  void fontTableText(unsigned char byte);
  void colorTableText(unsigned char byte);

  Group& top() { return stack_.back(); }

  std::string_view in_;
  const RtfReadLimits& limits_;
  RtfDocument& doc_;
  std::vector<Group> stack_;
  std::vector<Field> fields_;
  CodePageDecoder decoder_;
  std::string pendingBytes_;
  int pendingCodePage_ = 1252;
  int ansiCodePage_ = 1252;
  int defaultFontNumber_ = 0;
  int skipFallback_ = 0;  // fallback characters still to drop after \uN
  std::size_t textChars_ = 0;
  std::size_t runCount_ = 0;
  int error_ = kRtfOk;
  std::string errorMessage_;
  // Font table under construction.
  std::unordered_map<int, int> fontIndexByNumber_;
  int tableFontNumber_ = -1;
  int tableFontCharset_ = 0;
  std::string tableFontName_;
  // Colour table under construction.
  std::vector<int32_t> colors_;
  int red_ = -1, green_ = -1, blue_ = -1;
  // Paragraph under construction.
  RtfParagraph current_;
  bool breakBeforeCurrent_ = false;
  bool sectionBreakPending_ = false;
  bool pardSinceParagraphEnd_ = false;
};

int Reader::run(std::string* message) {
  if (in_.size() > limits_.maxInputBytes) {
    error_ = kRtfTooLarge;
    errorMessage_ = "RTF input larger than " + std::to_string(limits_.maxInputBytes) + " bytes";
  }
  std::size_t pos = 0;
  if (error_ == kRtfOk) {
    if (in_.size() >= 3 && in_.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    while (pos < in_.size() && (in_[pos] == ' ' || in_[pos] == '\r' || in_[pos] == '\n' ||
                                in_[pos] == '\t')) {
      ++pos;
    }
    if (in_.substr(pos, 5) != "{\\rtf") {
      error_ = kRtfNotRtf;
      errorMessage_ = "not an RTF document (it must start with {\\rtf)";
    }
  }
  while (error_ == kRtfOk && pos < in_.size()) {
    char c = in_[pos];
    if (c == '{') {
      ++pos;
      openGroup();
    } else if (c == '}') {
      ++pos;
      closeGroup();
      if (stack_.empty()) break;  // end of the document group
    } else if (c == '\\') {
      ControlWord cw;
      char symbol = 0;
      if (!readControl(pos, cw, symbol)) break;
      if (symbol != 0) {
        onSymbol(symbol, pos);
      } else {
        onWord(cw);
        if (cw.word == "bin" && cw.hasParam && cw.param > 0) {
          flushBytes();  // binary data is never text
          pos += std::min<std::size_t>(static_cast<std::size_t>(cw.param), in_.size() - pos);
        }
      }
    } else {
      ++pos;
      if (c != '\r' && c != '\n' && !stack_.empty()) onTextByte(static_cast<unsigned char>(c));
    }
  }
  if (error_ != kRtfOk) {
    doc_ = RtfDocument{};
    if (message) *message = errorMessage_;
    return error_;
  }
  flushBytes();
  if (lastParagraphOpen() || doc_.paragraphs.empty()) {
    if (stack_.empty()) stack_.emplace_back();  // format of a truncated file's last paragraph
    endParagraph();
  }
  return kRtfOk;
}

bool Reader::readControl(std::size_t& pos, ControlWord& out, char& symbol) {
  ++pos;  // the backslash
  if (pos >= in_.size()) return false;
  char c = in_[pos];
  bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  if (!letter) {
    symbol = c;
    ++pos;
    return true;
  }
  std::size_t start = pos;
  while (pos < in_.size() && pos - start < kMaxWordLength &&
         ((in_[pos] >= 'a' && in_[pos] <= 'z') || (in_[pos] >= 'A' && in_[pos] <= 'Z'))) {
    ++pos;
  }
  out.word = in_.substr(start, pos - start);
  bool negative = false;
  if (pos < in_.size() && in_[pos] == '-') {
    negative = true;
    ++pos;
  }
  int64_t value = 0;
  int digits = 0;
  while (pos < in_.size() && in_[pos] >= '0' && in_[pos] <= '9') {
    if (digits < 10) value = value * 10 + (in_[pos] - '0');
    ++digits;
    ++pos;
  }
  if (digits > 0) {
    value = std::min<int64_t>(value, INT32_MAX);
    out.hasParam = true;
    out.param = static_cast<int32_t>(negative ? -value : value);
  }
  if (pos < in_.size() && in_[pos] == ' ') ++pos;  // the delimiter belongs to the word
  return true;
}

void Reader::openGroup() {
  flushBytes();
  skipFallback_ = 0;
  if (static_cast<int>(stack_.size()) >= limits_.maxGroupDepth) {
    error_ = kRtfTooDeep;
    errorMessage_ = "RTF groups nested deeper than " + std::to_string(limits_.maxGroupDepth);
    return;
  }
  Group g = stack_.empty() ? Group{} : stack_.back();
  g.starred = false;
  g.firstWord = true;
  g.fieldResult = stack_.empty() ? false : stack_.back().fieldResult;
  stack_.push_back(std::move(g));
}

void Reader::closeGroup() {
  flushBytes();
  skipFallback_ = 0;
  if (stack_.empty()) return;
  Group& g = top();
  if (stack_.size() == 1 && lastParagraphOpen()) {
    endParagraph();  // the last paragraph, which has no \par, keeps its format
  }
  if (g.dest == Dest::FontTable && tableFontNumber_ >= 0 && !tableFontName_.empty()) {
    fontTableText(';');  // a last font entry without its semicolon
  }
  // Closing the field instruction: decide whether the field is one of ours.
  if (g.dest == Dest::FieldInstruction && g.field >= 0 &&
      (stack_.size() < 2 || stack_[stack_.size() - 2].dest != Dest::FieldInstruction)) {
    Field& f = fields_[g.field];
    bool marker = false;
    f.code = ParsePlaceholderInstruction(f.instruction, marker);
    f.markerPending = marker;
  }
  // The field's paragraph format changes (if any) stay with the group; the
  // paragraph format of the enclosing group is what follows.
  stack_.pop_back();
}

void Reader::onSymbol(char symbol, std::size_t& pos) {
  if (stack_.empty()) return;
  switch (symbol) {
    case '\'': {
      auto hex = [](char h) -> int {
        if (h >= '0' && h <= '9') return h - '0';
        if (h >= 'a' && h <= 'f') return h - 'a' + 10;
        if (h >= 'A' && h <= 'F') return h - 'A' + 10;
        return -1;
      };
      if (pos + 1 < in_.size() && hex(in_[pos]) >= 0 && hex(in_[pos + 1]) >= 0) {
        int value = hex(in_[pos]) * 16 + hex(in_[pos + 1]);
        pos += 2;
        onTextByte(static_cast<unsigned char>(value));
      } else if (pos < in_.size() && hex(in_[pos]) >= 0) {
        ++pos;  // a cut-off escape is dropped, not shown as its digit
      }
      return;
    }
    case '*':
      top().starred = true;
      return;
    case '\\': case '{': case '}':
      onTextByte(static_cast<unsigned char>(symbol));
      return;
    case '\r': case '\n':
      onWord(ControlWord{"par"});
      return;
    case '~':
      if (top().dest == Dest::Text) { flushBytes(); emitChar(0x00A0); }
      return;
    case '_':
      if (top().dest == Dest::Text) { flushBytes(); emitChar(0x2011); }
      return;
    case '\t':
      onWord(ControlWord{"tab"});
      return;
    default:
      return;  // \- optional hyphen, \: index subentry, \| formula: nothing to show
  }
}

void Reader::onTextByte(unsigned char byte) {
  Group& g = top();
  switch (g.dest) {
    case Dest::Skip:
      return;
    case Dest::FontTable:
      fontTableText(byte);
      return;
    case Dest::ColorTable:
      colorTableText(byte);
      return;
    case Dest::FieldInstruction:
      if (g.field >= 0 && fields_[g.field].instruction.size() < kMaxInstruction) {
        fields_[g.field].instruction.push_back(static_cast<char>(byte));
      }
      return;
    case Dest::Text:
      break;
  }
  if (skipFallback_ > 0) {
    --skipFallback_;
    return;
  }
  int cp = codePageNow();
  if (cp != pendingCodePage_) flushBytes();
  pendingCodePage_ = cp;
  pendingBytes_.push_back(static_cast<char>(byte));
  if (pendingBytes_.size() >= 4096 && byte < 0x80) flushBytes();
}

void Reader::onWord(const ControlWord& cw) {
  if (stack_.empty()) return;
  Group& g = top();
  bool first = g.firstWord;
  g.firstWord = false;
  if (g.dest == Dest::Skip) return;
  flushBytes();  // text so far belongs to the format before this word
  if (cw.word != "u") skipFallback_ = 0;
  if (destinationWord(cw)) return;
  if (first && g.starred && g.dest != Dest::FieldInstruction) {
    // An optional destination this reader does not know: skip it whole.
    flushBytes();
    g.dest = Dest::Skip;
    return;
  }
  if (g.dest == Dest::FontTable) {
    if (cw.word == "f" && cw.hasParam) {
      tableFontNumber_ = cw.param;
      tableFontCharset_ = 0;
      tableFontName_.clear();
    } else if (cw.word == "fcharset" && cw.hasParam) {
      tableFontCharset_ = cw.param;
    }
    return;
  }
  if (g.dest == Dest::ColorTable) {
    int value = cw.hasParam ? std::clamp<int32_t>(cw.param, 0, 255) : 0;
    if (cw.word == "red") red_ = value;
    else if (cw.word == "green") green_ = value;
    else if (cw.word == "blue") blue_ = value;
    return;
  }
  if (g.dest == Dest::FieldInstruction) return;
  if (specialCharacter(cw) || characterWord(cw) || paragraphWord(cw) || layoutWord(cw)) return;
  if (cw.word == "ansicpg" && cw.hasParam && cw.param > 0) ansiCodePage_ = cw.param;
  else if (cw.word == "deff" && cw.hasParam) defaultFontNumber_ = cw.param;
  else if (cw.word == "deftab" && cw.hasParam && cw.param >= 20 && cw.param <= 31680) doc_.defaultTab = cw.param;
  else if (cw.word == "uc" && cw.hasParam) g.unicodeSkip = std::clamp<int32_t>(cw.param, 0, 8);
  else if (cw.word == "u" && cw.hasParam) {
    flushBytes();
    int32_t v = cw.param < 0 ? cw.param + 65536 : cw.param;
    if (g.dest == Dest::Text && !g.hidden) emitChar(static_cast<char16_t>(v & 0xFFFF));
    skipFallback_ = g.unicodeSkip;
  }
}

// Destinations: groups whose text is not document text (or is field text).
bool Reader::destinationWord(const ControlWord& cw) {
  static const char* const kSkipped[] = {
      "info", "stylesheet", "pict", "object", "header", "headerl", "headerr", "headerf",
      "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "listtext",
      "pntext", "filetbl", "revtbl", "nonshppict", "shp", "xe", "tc", "txe", "objdata",
      "result", "listtable", "listoverridetable", "rsidtbl", "generator", "template",
      "docvar", "userprops", "bkmkstart", "bkmkend", "pgdsctbl", "atnid", "atnauthor"};
  Group& g = top();
  if (cw.word == "fonttbl") { flushBytes(); g.dest = Dest::FontTable; return true; }
  if (cw.word == "colortbl") {
    flushBytes();
    g.dest = Dest::ColorTable;
    red_ = green_ = blue_ = -1;
    return true;
  }
  if (cw.word == "field") {
    flushBytes();
    if (fields_.size() < limits_.maxTextChars) {
      fields_.emplace_back();
      g.field = static_cast<int>(fields_.size()) - 1;
    }
    return true;
  }
  if (cw.word == "fldinst") {
    flushBytes();
    g.dest = g.field >= 0 ? Dest::FieldInstruction : Dest::Skip;
    return true;
  }
  if (cw.word == "fldrslt") {
    flushBytes();
    g.dest = Dest::Text;
    g.fieldResult = true;
    return true;
  }
  for (const char* name : kSkipped) {
    if (cw.word == name) {
      flushBytes();
      g.dest = Dest::Skip;
      return true;
    }
  }
  return false;
}

bool Reader::characterWord(const ControlWord& cw) {
  Group& g = top();
  RtfCharFormat& c = g.chr;
  bool on = !cw.hasParam || cw.param != 0;
  std::string_view w = cw.word;
  if (w == "plain") {
    int code = c.placeholderCode;
    c = RtfCharFormat{};
    c.placeholderCode = code;
    g.fontNumber = -1;
    g.hidden = false;
  } else if (w == "f" && cw.hasParam) {
    g.fontNumber = cw.param;
  } else if (w == "fs" && cw.hasParam) {
    c.halfPoints = std::clamp<int32_t>(cw.param, 2, 3276);
  } else if (w == "b") {
    c.bold = on;
  } else if (w == "i") {
    c.italic = on;
  } else if (w == "ulnone") {
    c.underline = false;
  } else if (w == "ul" || w == "uld" || w == "uldb" || w == "ulw" || w == "ulth" ||
             w == "uldash" || w == "ulwave" || w == "ulhair" || w == "uldashd") {
    c.underline = on;
  } else if (w == "cf" && cw.hasParam) {
    c.color = (cw.param > 0 && static_cast<std::size_t>(cw.param) < colors_.size())
                  ? colors_[cw.param] : -1;
  } else if (w == "v") {
    flushBytes();
    g.hidden = on;
  } else {
    return false;
  }
  flushBytes();
  return true;
}

bool Reader::paragraphWord(const ControlWord& cw) {
  Group& g = top();
  RtfParaFormat& p = g.para;
  std::string_view w = cw.word;
  int v = cw.hasParam ? std::clamp<int32_t>(cw.param, -31680, 31680) : 0;
  if (w == "pard") {
    p = RtfParaFormat{};
    pardSinceParagraphEnd_ = true;
    g.nextTabKind = RtfTabKind::Left;
  } else if (w == "ql") { p.align = RtfAlign::Left;
  } else if (w == "qr") { p.align = RtfAlign::Right;
  } else if (w == "qc") { p.align = RtfAlign::Center;
  } else if (w == "qj" || w == "qd") { p.align = RtfAlign::Justify;
  } else if (w == "fi") { p.firstIndent = v;
  } else if (w == "li" || w == "lin") { p.leftIndent = v;
  } else if (w == "ri" || w == "rin") { p.rightIndent = v;
  } else if (w == "sb") { p.spaceBefore = std::max(v, 0);
  } else if (w == "sa") { p.spaceAfter = std::max(v, 0);
  } else if (w == "sl") { p.lineHeight = v;
  } else if (w == "slmult") { p.lineMultiple = cw.hasParam && cw.param != 0;
  } else if (w == "pagebb") { p.pageBreakBefore = !cw.hasParam || cw.param != 0;
  } else if (w == "tqr") { g.nextTabKind = RtfTabKind::Right;
  } else if (w == "tqc") { g.nextTabKind = RtfTabKind::Center;
  } else if (w == "tqdec") { g.nextTabKind = RtfTabKind::Decimal;
  } else if (w == "tx" || w == "tb") {
    if (cw.hasParam && v >= 0 && p.tabs.size() < kMaxTabs) p.tabs.push_back({v, g.nextTabKind});
    g.nextTabKind = RtfTabKind::Left;
  } else {
    return false;
  }
  return true;
}

bool Reader::layoutWord(const ControlWord& cw) {
  static const struct {
    const char* word;
    const char* sectionWord;
    int RtfPageLayout::*field;
    int minimum;
  } kLayout[] = {
      {"paperw", "pgwsxn", &RtfPageLayout::paperWidth, 1440},
      {"paperh", "pghsxn", &RtfPageLayout::paperHeight, 1440},
      {"margl", "marglsxn", &RtfPageLayout::marginLeft, 0},
      {"margr", "margrsxn", &RtfPageLayout::marginRight, 0},
      {"margt", "margtsxn", &RtfPageLayout::marginTop, 0},
      {"margb", "margbsxn", &RtfPageLayout::marginBottom, 0},
  };
  std::string_view w = cw.word;
  for (const auto& entry : kLayout) {
    if (w == entry.word || w == entry.sectionWord) {
      // Values a page cannot have are ignored rather than trusted.
      if (cw.hasParam && cw.param >= entry.minimum && cw.param <= 31680 * 2) {
        doc_.layout.*entry.field = cw.param;
      }
      return true;
    }
  }
  if (w == "sect") {
    flushBytes();
    endParagraph();
    sectionBreakPending_ = true;  // RTF's default section break starts a new page
  } else if (w == "sbknone" || w == "sbkcol") {
    sectionBreakPending_ = false;
  } else {
    return false;
  }
  return true;
}

bool Reader::specialCharacter(const ControlWord& cw) {
  static const struct { const char* word; char16_t c; } kChars[] = {
      {"tab", u'\t'}, {"line", kLineSeparator}, {"lquote", 0x2018}, {"rquote", 0x2019},
      {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"bullet", 0x2022}, {"endash", 0x2013},
      {"emdash", 0x2014}, {"enspace", 0x2002}, {"emspace", 0x2003}, {"qmspace", 0x2005},
      {"cell", u'\t'}, {"nestcell", u'\t'}};
  std::string_view w = cw.word;
  for (const auto& entry : kChars) {
    if (w == entry.word) {
      flushBytes();
      if (top().dest == Dest::Text && !top().hidden) emitChar(entry.c);
      return true;
    }
  }
  if (w == "par") {
    flushBytes();
    endParagraph();
  } else if (w == "row" || w == "nestrow") {
    flushBytes();
    if (!current_.runs.empty() && !current_.runs.back().text.empty() &&
        current_.runs.back().text.back() == u'\t') {
      current_.runs.back().text.pop_back();  // the last cell's end mark
    }
    endParagraph();
  } else if (w == "page") {
    flushBytes();
    pageBreak();
  } else {
    return false;
  }
  return true;
}

int Reader::fontIndexOf(int fontNumber) const {
  auto it = fontIndexByNumber_.find(fontNumber >= 0 ? fontNumber : defaultFontNumber_);
  return it == fontIndexByNumber_.end() ? -1 : it->second;
}

int Reader::codePageNow() const {
  int font = fontIndexOf(stack_.back().fontNumber);
  if (font >= 0) {
    int cp = CodePageOfCharset(doc_.fonts[font].charset);
    if (cp != 0 && cp != 1252) return cp;
    if (cp == 0) return 1252;
  }
  return ansiCodePage_;
}

void Reader::flushBytes() {
  if (pendingBytes_.empty()) return;
  std::u16string text;
  decoder_.decode(pendingCodePage_, pendingBytes_, text);
  pendingBytes_.clear();
  if (!stack_.empty() && stack_.back().dest == Dest::Text && !stack_.back().hidden) emit(text);
}

void Reader::emit(std::u16string_view raw) {
  // Control characters other than the tab have no place in a paragraph.
  std::u16string cleaned;
  std::u16string_view text = raw;
  if (std::any_of(raw.begin(), raw.end(), [](char16_t c) { return c < 0x20 && c != u'\t'; })) {
    for (char16_t c : raw) {
      if (c >= 0x20 || c == u'\t') cleaned.push_back(c);
    }
    text = cleaned;
  }
  if (text.empty()) return;
  textChars_ += text.size();
  if (textChars_ > limits_.maxTextChars) {
    error_ = kRtfTooLarge;
    errorMessage_ = "RTF text longer than " + std::to_string(limits_.maxTextChars) + " characters";
    return;
  }
  Group& g = top();
  RtfCharFormat format = g.chr;
  format.font = fontIndexOf(g.fontNumber);
  format.placeholderCode = 0;
  format.marker = false;
  if (g.fieldResult && g.field >= 0 && fields_[g.field].code > 0) {
    Field& f = fields_[g.field];
    format.placeholderCode = f.code;
    if (f.markerPending) {
      f.markerPending = false;
      if (text[0] == u'*') {
        RtfCharFormat markerFormat = format;
        markerFormat.marker = true;
        ++runCount_;
        current_.runs.push_back({markerFormat, u"*"});
        text.remove_prefix(1);
        if (text.empty()) return;
      }
    }
  }
  if (!current_.runs.empty() && current_.runs.back().format == format) {
    current_.runs.back().text.append(text);
    return;
  }
  if (++runCount_ > limits_.maxRuns) {
    error_ = kRtfTooLarge;
    errorMessage_ = "RTF text has more than " + std::to_string(limits_.maxRuns) + " paragraphs and format changes";
    return;
  }
  current_.runs.push_back({format, std::u16string(text)});
}

void Reader::endParagraph() {
  if (++runCount_ > limits_.maxRuns) {
    error_ = kRtfTooLarge;
    errorMessage_ = "RTF text has more than " + std::to_string(limits_.maxRuns) + " paragraphs and format changes";
    return;
  }
  current_.format = stack_.empty() ? RtfParaFormat{} : top().para;
  if (breakBeforeCurrent_ || sectionBreakPending_) current_.format.pageBreakBefore = true;
  // A document's first paragraph has nothing to break from.
  if (doc_.paragraphs.empty() && (breakBeforeCurrent_ || sectionBreakPending_) &&
      !top().para.pageBreakBefore) {
    current_.format.pageBreakBefore = false;
  }
  breakBeforeCurrent_ = false;
  sectionBreakPending_ = false;
  pardSinceParagraphEnd_ = false;
  doc_.paragraphs.push_back(std::move(current_));
  current_ = RtfParagraph{};
}

void Reader::pageBreak() {
  // A break inside a paragraph ends it; the break then belongs before the next one.
  if (!current_.runs.empty()) endParagraph();
  breakBeforeCurrent_ = true;
}

void Reader::fontTableText(unsigned char byte) {
  if (byte != ';') {
    if (byte >= 0x20 && tableFontName_.size() < kMaxFontName) {
      tableFontName_.push_back(static_cast<char>(byte));
    }
    return;
  }
  if (tableFontNumber_ >= 0 && doc_.fonts.size() < kMaxFonts &&
      !fontIndexByNumber_.count(tableFontNumber_)) {
    std::u16string wide;
    int cp = CodePageOfCharset(tableFontCharset_);
    decoder_.decode(cp == 0 ? 1252 : cp, tableFontName_, wide);
    std::string utf8;
    for (char16_t ch : wide) {  // font names are short and almost always ASCII
      if (ch < 0x80) {
        utf8.push_back(static_cast<char>(ch));
      } else if (ch < 0x800) {
        utf8.push_back(static_cast<char>(0xC0 | (ch >> 6)));
        utf8.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
      } else {
        utf8.push_back(static_cast<char>(0xE0 | (ch >> 12)));
        utf8.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
        utf8.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
      }
    }
    while (!utf8.empty() && utf8.front() == ' ') utf8.erase(utf8.begin());
    while (!utf8.empty() && utf8.back() == ' ') utf8.pop_back();
    fontIndexByNumber_[tableFontNumber_] = static_cast<int>(doc_.fonts.size());
    doc_.fonts.push_back({utf8, tableFontCharset_});
  }
  tableFontNumber_ = -1;
  tableFontName_.clear();
}

void Reader::colorTableText(unsigned char byte) {
  if (byte != ';') return;
  if (colors_.size() < kMaxColors) {
    bool automatic = red_ < 0 && green_ < 0 && blue_ < 0;
    colors_.push_back(automatic ? -1
                                : (std::max(red_, 0) << 16) | (std::max(green_, 0) << 8) |
                                      std::max(blue_, 0));
  }
  red_ = green_ = blue_ = -1;
}

}  // namespace

std::string PlaceholderInstruction(int code, bool withMarker) {
  return " VLNFIELD " + std::to_string(code) + (withMarker ? " MARKER " : " ");
}

int ParsePlaceholderInstruction(std::string_view instruction, bool& withMarker) {
  withMarker = false;
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < instruction.size() && words.size() < 4) {
    while (pos < instruction.size() && instruction[pos] == ' ') ++pos;
    std::size_t start = pos;
    while (pos < instruction.size() && instruction[pos] != ' ') ++pos;
    if (pos > start) words.push_back(instruction.substr(start, pos - start));
  }
  if (words.size() < 2 || words.size() > 3 || words[0] != "VLNFIELD") return 0;
  if (words[1].size() != 1 || words[1][0] < '1' || words[1][0] > '0' + kMaxPlaceholderCode) {
    return 0;
  }
  if (words.size() == 3) {
    if (words[2] != "MARKER") return 0;
    withMarker = true;
  }
  return words[1][0] - '0';
}

int ReadRtf(std::string_view data, RtfDocument& out, std::string* message,
            const RtfReadLimits& limits) {
  out = RtfDocument{};
  Reader reader(data, limits, out);
  return reader.run(message);
}

}  // namespace veltrane::richtext
