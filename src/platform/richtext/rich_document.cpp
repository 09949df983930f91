#include "platform/richtext/rich_document.h"

#include <QColor>
#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

#include "platform/richtext/rtf_reader.h"
#include "platform/richtext/rtf_writer.h"

namespace veltrane::richtext {
namespace {

// Qt lays text out in 96-dpi pixels and scales them to the paint device.
constexpr double kTwipsPerQtPixel = 1440.0 / 96.0;
const char* const kLayoutProperties[] = {"rtfPaperWidth", "rtfPaperHeight", "rtfMarginLeft",
                                         "rtfMarginRight", "rtfMarginTop", "rtfMarginBottom"};
int RtfPageLayout::*const kLayoutFields[] = {
    &RtfPageLayout::paperWidth, &RtfPageLayout::paperHeight, &RtfPageLayout::marginLeft,
    &RtfPageLayout::marginRight, &RtfPageLayout::marginTop, &RtfPageLayout::marginBottom};

double toQt(int twips) { return twips / kTwipsPerQtPixel; }
int toTwips(double qtPixels) { return static_cast<int>(std::lround(qtPixels * kTwipsPerQtPixel)); }

int twipsProperty(const QTextBlockFormat& f, int property, double qtFallback) {
  return f.hasProperty(property) ? f.intProperty(property) : toTwips(qtFallback);
}

QTextBlockFormat blockFormatOf(const RtfParaFormat& p) {
  QTextBlockFormat f;
  switch (p.align) {
    case RtfAlign::Left: f.setAlignment(Qt::AlignLeft); break;
    case RtfAlign::Right: f.setAlignment(Qt::AlignRight); break;
    case RtfAlign::Center: f.setAlignment(Qt::AlignHCenter); break;
    case RtfAlign::Justify: f.setAlignment(Qt::AlignJustify); break;
  }
  ParagraphAttributes a{p.firstIndent, p.leftIndent, p.rightIndent, p.spaceBefore,
                        p.spaceAfter, p.lineMultiple ? 0 : p.lineHeight, p.pageBreakBefore};
  ApplyParagraphAttributes(a, f);
  if (p.lineMultiple && p.lineHeight > 0) {
    f.setProperty(kLineHeightTwips, p.lineHeight);
    f.setProperty(kLineMultiple, true);
    f.setLineHeight(p.lineHeight * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
  }
  QList<QTextOption::Tab> tabs;
  for (const RtfTab& t : p.tabs) {
    QTextOption::TabType type = t.kind == RtfTabKind::Right    ? QTextOption::RightTab
                                : t.kind == RtfTabKind::Center ? QTextOption::CenterTab
                                : t.kind == RtfTabKind::Decimal ? QTextOption::DelimiterTab
                                                                : QTextOption::LeftTab;
    tabs.append(QTextOption::Tab(toQt(t.position), type, type == QTextOption::DelimiterTab ? QChar('.') : QChar()));
  }
  if (!tabs.isEmpty()) f.setTabPositions(tabs);
  return f;
}

QTextCharFormat charFormatOf(const RtfCharFormat& c, const RtfDocument& model) {
  QTextCharFormat f;
  QString family = c.font >= 0 && c.font < static_cast<int>(model.fonts.size())
                       ? QString::fromStdString(model.fonts[c.font].name)
                       : QStringLiteral("Arial");
  f.setFontFamilies({family});
  f.setFontPointSize(c.halfPoints / 2.0);
  f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(c.italic);
  f.setFontUnderline(c.underline);
  if (c.color >= 0) f.setForeground(QColor(QRgb(0xFF000000u | static_cast<uint32_t>(c.color))));
  if (c.placeholderCode > 0) f.setProperty(kPlaceholderCodeProperty, c.placeholderCode);
  if (c.marker) f.setProperty(kPlaceholderMarkerProperty, true);
  return f;
}

RtfParaFormat paraFormatOf(const QTextBlockFormat& f) {
  RtfParaFormat p;
  Qt::Alignment h = f.alignment() & Qt::AlignHorizontal_Mask;
  p.align = h & Qt::AlignJustify   ? RtfAlign::Justify
            : h & Qt::AlignHCenter ? RtfAlign::Center
            : h & Qt::AlignRight   ? RtfAlign::Right
                                   : RtfAlign::Left;
  ParagraphAttributes a = ParagraphAttributesOf(f);
  p.firstIndent = a.firstIndent;
  p.leftIndent = a.leftIndent;
  p.rightIndent = a.rightIndent;
  p.spaceBefore = a.spaceBefore;
  p.spaceAfter = a.spaceAfter;
  p.lineHeight = a.lineHeight;
  p.pageBreakBefore = a.pageBreakBefore;
  if (f.boolProperty(kLineMultiple)) {
    p.lineMultiple = true;
    p.lineHeight = f.intProperty(kLineHeightTwips);
  }
  for (const QTextOption::Tab& t : f.tabPositions()) {
    RtfTabKind kind = t.type == QTextOption::RightTab       ? RtfTabKind::Right
                      : t.type == QTextOption::CenterTab    ? RtfTabKind::Center
                      : t.type == QTextOption::DelimiterTab ? RtfTabKind::Decimal
                                                            : RtfTabKind::Left;
    p.tabs.push_back({toTwips(t.position), kind});
  }
  return p;
}

// The font table of a document being saved, in order of first use.
struct FontTable {
  std::vector<RtfFont>& fonts;
  std::unordered_map<std::string, int> index;
  int indexOf(const std::string& family) {
    auto [it, added] = index.emplace(family, static_cast<int>(fonts.size()));
    if (added) fonts.push_back({family, 0});
    return it->second;
  }
};

RtfCharFormat charModelOf(const QTextCharFormat& f, const QFont& fallback, FontTable& fonts) {
  RtfCharFormat c;
  QStringList families = f.fontFamilies().toStringList();
  c.font = fonts.indexOf((families.isEmpty() ? fallback.family() : families.first()).toStdString());
  double points = f.fontPointSize() > 0 ? f.fontPointSize() : fallback.pointSizeF();
  c.halfPoints = std::clamp(static_cast<int>(std::lround(points * 2)), 2, 3276);
  c.bold = f.fontWeight() > QFont::Medium;
  c.italic = f.fontItalic();
  c.underline = f.fontUnderline();
  if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) {
    c.color = static_cast<int32_t>(f.foreground().color().rgb() & 0xFFFFFF);
  }
  c.placeholderCode = f.intProperty(kPlaceholderCodeProperty);
  c.marker = f.boolProperty(kPlaceholderMarkerProperty);
  return c;
}

}  // namespace

ParagraphAttributes ParagraphAttributesOf(const QTextBlockFormat& f) {
  ParagraphAttributes a;
  a.firstIndent = twipsProperty(f, kFirstIndentTwips, f.textIndent());
  a.leftIndent = twipsProperty(f, kLeftIndentTwips, f.leftMargin());
  a.rightIndent = twipsProperty(f, kRightIndentTwips, f.rightMargin());
  a.spaceBefore = twipsProperty(f, kSpaceBeforeTwips, f.topMargin());
  a.spaceAfter = twipsProperty(f, kSpaceAfterTwips, f.bottomMargin());
  if (f.hasProperty(kLineHeightTwips) && !f.boolProperty(kLineMultiple)) {
    a.lineHeight = f.intProperty(kLineHeightTwips);
  } else if (f.lineHeightType() == QTextBlockFormat::MinimumHeight) {
    a.lineHeight = toTwips(f.lineHeight());
  } else if (f.lineHeightType() == QTextBlockFormat::FixedHeight) {
    a.lineHeight = -toTwips(f.lineHeight());
  }
  a.pageBreakBefore = f.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore;
  return a;
}

void ApplyParagraphAttributes(const ParagraphAttributes& a, QTextBlockFormat& f, double marginScale) {
  f.setTextIndent(toQt(a.firstIndent) * marginScale);
  f.setLeftMargin(toQt(a.leftIndent) * marginScale);
  f.setRightMargin(toQt(a.rightIndent) * marginScale);
  f.setTopMargin(toQt(a.spaceBefore) * marginScale);
  f.setBottomMargin(toQt(a.spaceAfter) * marginScale);
  f.setProperty(kFirstIndentTwips, a.firstIndent);
  f.setProperty(kLeftIndentTwips, a.leftIndent);
  f.setProperty(kRightIndentTwips, a.rightIndent);
  f.setProperty(kSpaceBeforeTwips, a.spaceBefore);
  f.setProperty(kSpaceAfterTwips, a.spaceAfter);
  f.setProperty(kLineHeightTwips, a.lineHeight);
  f.setProperty(kLineMultiple, false);  // set, not cleared, so a merge overrides it
  if (a.lineHeight > 0) {
    f.setLineHeight(toQt(a.lineHeight), QTextBlockFormat::MinimumHeight);
  } else if (a.lineHeight < 0) {
    f.setLineHeight(toQt(-a.lineHeight), QTextBlockFormat::FixedHeight);
  } else {
    f.setLineHeight(100, QTextBlockFormat::SingleHeight);
  }
  QTextFormat::PageBreakFlags flags = f.pageBreakPolicy();
  flags.setFlag(QTextFormat::PageBreak_AlwaysBefore, a.pageBreakBefore);
  f.setPageBreakPolicy(flags);
}

int DefaultTabOf(const QTextDocument& doc) {
  QVariant v = doc.property("rtfDefaultTab");
  return v.isValid() ? v.toInt() : 720;
}

void SetDefaultTab(QTextDocument& doc, int twips) {
  doc.setProperty("rtfDefaultTab", twips);
  QTextOption option = doc.defaultTextOption();
  option.setTabStopDistance(toQt(twips));
  doc.setDefaultTextOption(option);
}

RtfPageLayout PageLayoutOf(const QTextDocument& doc) {
  RtfPageLayout layout = kLetterHalfInchMargins;
  for (std::size_t i = 0; i < std::size(kLayoutProperties); ++i) {
    QVariant v = doc.property(kLayoutProperties[i]);
    if (v.isValid()) layout.*kLayoutFields[i] = v.toInt();
  }
  return layout;
}

void SetPageLayout(QTextDocument& doc, const RtfPageLayout& layout) {
  for (std::size_t i = 0; i < std::size(kLayoutProperties); ++i) {
    doc.setProperty(kLayoutProperties[i], layout.*kLayoutFields[i]);
  }
}

void ModelToDocument(const RtfDocument& model, QTextDocument& doc) {
  bool undo = doc.isUndoRedoEnabled();
  doc.setUndoRedoEnabled(false);
  doc.clear();
  SetPageLayout(doc, model.layout);
  SetDefaultTab(doc, model.defaultTab);
  QTextCursor cursor(&doc);
  for (std::size_t i = 0; i < model.paragraphs.size(); ++i) {
    const RtfParagraph& p = model.paragraphs[i];
    QTextBlockFormat block = blockFormatOf(p.format);
    QTextCharFormat blockChar = p.runs.empty() ? QTextCharFormat()
                                               : charFormatOf(p.runs.front().format, model);
    blockChar.clearProperty(kPlaceholderCodeProperty);
    blockChar.clearProperty(kPlaceholderMarkerProperty);
    if (i == 0) {
      cursor.setBlockFormat(block);
      cursor.setBlockCharFormat(blockChar);
    } else {
      cursor.insertBlock(block, blockChar);
    }
    for (const RtfRun& r : p.runs) {
      if (r.text.empty()) continue;
      cursor.insertText(QString::fromStdU16String(r.text), charFormatOf(r.format, model));
    }
  }
  doc.setUndoRedoEnabled(undo);
  doc.setModified(false);
}

RtfDocument DocumentToModel(const QTextDocument& doc) {
  RtfDocument model;
  model.layout = PageLayoutOf(doc);
  model.defaultTab = DefaultTabOf(doc);
  QFont fallback = doc.defaultFont();
  FontTable fonts{model.fonts, {}};
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    RtfParagraph p;
    p.format = paraFormatOf(block.blockFormat());
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      std::u16string text = fragment.text().toStdU16String();
      std::erase(text, char16_t(0xFFFC));  // embedded objects are not kept
      if (text.empty()) continue;
      RtfRun run{charModelOf(fragment.charFormat(), fallback, fonts), std::move(text)};
      if (!p.runs.empty() && p.runs.back().format == run.format) {
        p.runs.back().text += run.text;
      } else {
        p.runs.push_back(std::move(run));
      }
    }
    model.paragraphs.push_back(std::move(p));
  }
  return model;
}

int LoadRtf(const QByteArray& rtf, QTextDocument& doc, QString* message) {
  RtfDocument model;
  std::string why;
  int rc = ReadRtf(std::string_view(rtf.constData(), static_cast<std::size_t>(rtf.size())), model, &why);
  if (rc < 0) {
    doc.clear();
    if (message) *message = QString::fromStdString(why);
    return rc;
  }
  ModelToDocument(model, doc);
  return 0;
}

QByteArray SaveRtf(const QTextDocument& doc) {
  return QByteArray::fromStdString(WriteRtf(DocumentToModel(doc)));
}

void InstallFontSubstitutions() {
  static bool done = false;
  if (done) return;
  done = true;
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "DejaVu Sans"});
  QFont::insertSubstitutions("MS Serif", {"Liberation Serif", "DejaVu Serif"});
  QFont::insertSubstitutions("Arial", {"Liberation Sans"});
  QFont::insertSubstitutions("Times New Roman", {"Liberation Serif"});
  QFont::insertSubstitutions("Courier New", {"Liberation Mono"});
}

}  // namespace veltrane::richtext
