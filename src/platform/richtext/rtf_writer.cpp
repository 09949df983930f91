#include "platform/richtext/rtf_writer.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/richtext/rtf_reader.h"

namespace veltrane::richtext {
namespace {

class Writer {
 public:
  explicit Writer(const RtfDocument& doc) : doc_(doc) {}
  std::string run();

 private:
  void header();
  void paragraph(const RtfParagraph& p, bool last);
  void paragraphFormat(const RtfParaFormat& f);
  void runs(const std::vector<RtfRun>& runs);
  void run(const RtfRun& r);
  void text(std::u16string_view text);
  int colorIndex(int32_t color) const;
  void word(const char* w, int value) { out_ += '\\'; out_ += w; out_ += std::to_string(value); }
  void word(const char* w) { out_ += '\\'; out_ += w; }

  const RtfDocument& doc_;
  std::vector<int32_t> colors_;
  std::string out_;
};

std::string Writer::run() {
  header();
  for (std::size_t i = 0; i < doc_.paragraphs.size(); ++i) {
    paragraph(doc_.paragraphs[i], i + 1 == doc_.paragraphs.size());
  }
  out_ += "}\n";
  return out_;
}

void Writer::header() {
  out_ = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
  std::vector<RtfFont> fonts = doc_.fonts;
  if (fonts.empty()) fonts.push_back({"Arial", 0});
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    out_ += "{\\f" + std::to_string(i) + "\\fnil\\fcharset" + std::to_string(fonts[i].charset) + ' ';
    // Font names are written in ASCII; the reader trims spaces, so trim them here too.
    std::string name;
    for (char c : fonts[i].name) {
      unsigned char u = static_cast<unsigned char>(c);
      if (c == ';' || c == '{' || c == '}' || c == '\\' || u < 0x20 || u >= 0x80) continue;
      name += c;
    }
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    out_ += name + ";}";
  }
  out_ += "}\n{\\colortbl;";
  for (const RtfParagraph& p : doc_.paragraphs) {
    for (const RtfRun& r : p.runs) {
      if (r.format.color >= 0 && std::find(colors_.begin(), colors_.end(), r.format.color) ==
                                     colors_.end()) {
        colors_.push_back(r.format.color);
      }
    }
  }
  for (int32_t c : colors_) {
    out_ += "\\red" + std::to_string((c >> 16) & 0xFF) + "\\green" + std::to_string((c >> 8) & 0xFF) +
            "\\blue" + std::to_string(c & 0xFF) + ';';
  }
  out_ += "}\n";
  word("deftab", doc_.defaultTab);
  const RtfPageLayout& l = doc_.layout;
  word("paperw", l.paperWidth);
  word("paperh", l.paperHeight);
  word("margl", l.marginLeft);
  word("margr", l.marginRight);
  word("margt", l.marginTop);
  word("margb", l.marginBottom);
  out_ += "\\sectd\\sbknone";
  word("pgwsxn", l.paperWidth);
  word("pghsxn", l.paperHeight);
  word("marglsxn", l.marginLeft);
  word("margrsxn", l.marginRight);
  word("margtsxn", l.marginTop);
  word("margbsxn", l.marginBottom);
  out_ += '\n';
}

int Writer::colorIndex(int32_t color) const {
  auto it = std::find(colors_.begin(), colors_.end(), color);
  return it == colors_.end() ? 0 : static_cast<int>(it - colors_.begin()) + 1;
}

void Writer::paragraph(const RtfParagraph& p, bool last) {
  out_ += "\\pard\\plain";
  paragraphFormat(p.format);
  out_ += ' ';
  runs(p.runs);
  // The last paragraph has no \par, so reading back gives the same count.
  out_ += last ? "\n" : "\\par\n";
}

void Writer::paragraphFormat(const RtfParaFormat& f) {
  switch (f.align) {
    case RtfAlign::Left: word("ql"); break;
    case RtfAlign::Right: word("qr"); break;
    case RtfAlign::Center: word("qc"); break;
    case RtfAlign::Justify: word("qj"); break;
  }
  if (f.firstIndent) word("fi", f.firstIndent);
  if (f.leftIndent) word("li", f.leftIndent);
  if (f.rightIndent) word("ri", f.rightIndent);
  if (f.spaceBefore) word("sb", f.spaceBefore);
  if (f.spaceAfter) word("sa", f.spaceAfter);
  if (f.lineHeight) {
    word("sl", f.lineHeight);
    word("slmult", f.lineMultiple ? 1 : 0);
  }
  if (f.pageBreakBefore) word("pagebb");
  for (const RtfTab& t : f.tabs) {
    if (t.kind == RtfTabKind::Right) word("tqr");
    if (t.kind == RtfTabKind::Center) word("tqc");
    if (t.kind == RtfTabKind::Decimal) word("tqdec");
    word("tx", t.position);
  }
}

// Runs that would be written alike are joined, so what is read back from the
// output is the same document as the output describes.
std::vector<RtfRun> normalised(const std::vector<RtfRun>& runs) {
  std::vector<RtfRun> out;
  for (RtfRun r : runs) {
    r.format.font = std::max(r.format.font, 0);
    if (r.format.placeholderCode < 0 || r.format.placeholderCode > kMaxPlaceholderCode) {
      r.format.placeholderCode = 0;
    }
    if (r.format.placeholderCode == 0) r.format.marker = false;
    std::erase_if(r.text, [](char16_t c) { return c < 0x20 && c != u'\t'; });
    if (r.format.marker) {  // one marker character per field
      for (std::size_t k = 0; k < r.text.size(); ++k) out.push_back({r.format, u"*"});
      continue;
    }
    if (r.text.empty()) continue;
    if (!out.empty() && out.back().format == r.format) {
      out.back().text += r.text;
    } else {
      out.push_back(std::move(r));
    }
  }
  return out;
}

void Writer::runs(const std::vector<RtfRun>& original) {
  std::vector<RtfRun> list = normalised(original);
  std::size_t i = 0;
  while (i < list.size()) {
    int code = list[i].format.placeholderCode;
    if (code == 0) {
      run(list[i++]);
      continue;
    }
    // One field: an optional marker, then the runs of the same code up to the next marker.
    std::size_t end = i + 1;
    while (end < list.size() && list[end].format.placeholderCode == code &&
           !list[end].format.marker) {
      ++end;
    }
    bool marker = list[i].format.marker;
    out_ += "{\\field{\\*\\fldinst{" + PlaceholderInstruction(code, marker) + "}}{\\fldrslt";
    for (std::size_t k = i; k < end; ++k) run(list[k]);
    out_ += "}}";
    i = end;
  }
}

void Writer::run(const RtfRun& r) {
  const RtfCharFormat& f = r.format;
  out_ += '{';
  word("f", std::max(f.font, 0));
  word("fs", f.halfPoints);
  if (f.bold) word("b");
  if (f.italic) word("i");
  if (f.underline) word("ul");
  if (f.color >= 0) word("cf", colorIndex(f.color));
  out_ += ' ';
  text(r.text);
  out_ += '}';
}

void Writer::text(std::u16string_view s) {
  std::size_t column = 0;
  for (char16_t c : s) {
    if (c == u'\\' || c == u'{' || c == u'}') {
      out_ += '\\';
      out_ += static_cast<char>(c);
    } else if (c == u'\t') {
      out_ += "\\tab ";
    } else if (c == 0x2028) {
      out_ += "\\line ";
    } else if (c == 0x00A0) {
      out_ += "\\~";
    } else if (c >= 0x20 && c < 0x80) {
      out_ += static_cast<char>(c);
    } else {
      out_ += "\\u" + std::to_string(static_cast<int16_t>(c)) + '?';
    }
    // Keep lines short for tools that read RTF line by line.
    if (++column >= 200 && c == u' ') {
      out_ += "\n";
      column = 0;
    }
  }
}

}  // namespace

std::string WriteRtf(const RtfDocument& doc) { return Writer(doc).run(); }

}  // namespace veltrane::richtext
