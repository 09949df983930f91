// Plain, toolkit-free picture of a rich-text document as RTF carries it.
// The reader fills it and the writer serialises it; the Qt side converts it
// to and from QTextDocument. Lengths are twips (1/1440 inch) throughout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltrane::richtext {

// Placeholder codes are 1 to 5; 0 means "not part of a placeholder field".
constexpr int kMaxPlaceholderCode = 5;

struct RtfFont {
  std::string name;   // UTF-8
  int charset = 0;    // \fcharsetN, 0 = ANSI
  bool operator==(const RtfFont&) const = default;
};

struct RtfCharFormat {
  int font = -1;             // index into RtfDocument::fonts, -1 = default font
  int halfPoints = 24;       // \fsN
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int32_t color = -1;        // 0xRRGGBB, -1 = automatic (black)
  int placeholderCode = 0;   // field this text belongs to
  bool marker = false;       // the field's marker character
  bool operator==(const RtfCharFormat&) const = default;
};

enum class RtfAlign { Left, Right, Center, Justify };
enum class RtfTabKind { Left, Right, Center, Decimal };

struct RtfTab {
  int position = 0;
  RtfTabKind kind = RtfTabKind::Left;
  bool operator==(const RtfTab&) const = default;
};

struct RtfParaFormat {
  RtfAlign align = RtfAlign::Left;
  int firstIndent = 0;   // \fiN, relative to the left indent
  int leftIndent = 0;    // \liN
  int rightIndent = 0;   // \riN
  int spaceBefore = 0;   // \sbN
  int spaceAfter = 0;    // \saN
  int lineHeight = 0;    // \slN: 0 = single, >0 at least, <0 exactly
  bool lineMultiple = false;  // \slmult1: lineHeight is in 240ths of a line
  bool pageBreakBefore = false;
  std::vector<RtfTab> tabs;
  bool operator==(const RtfParaFormat&) const = default;
};

struct RtfRun {
  RtfCharFormat format;
  std::u16string text;  // '\t' tab, U+2028 line break
  bool operator==(const RtfRun&) const = default;
};

struct RtfParagraph {
  RtfParaFormat format;
  std::vector<RtfRun> runs;
  bool operator==(const RtfParagraph&) const = default;
};

// RTF's own defaults when the file gives none: letter paper, 1.25" and 1" margins.
struct RtfPageLayout {
  int paperWidth = 12240;
  int paperHeight = 15840;
  int marginLeft = 1800;
  int marginRight = 1800;
  int marginTop = 1440;
  int marginBottom = 1440;
  bool operator==(const RtfPageLayout&) const = default;
};

// The layout every fax page and cover template uses: letter, 0.5" margins.
constexpr RtfPageLayout kLetterHalfInchMargins{12240, 15840, 720, 720, 720, 720};

struct RtfDocument {
  std::vector<RtfFont> fonts;
  RtfPageLayout layout;
  int defaultTab = 720;  // \deftabN: distance of the default tab stops
  std::vector<RtfParagraph> paragraphs;  // never empty after a successful read
};

}  // namespace veltrane::richtext
