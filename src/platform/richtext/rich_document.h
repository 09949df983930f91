// RTF in and out of QTextDocument, and the page layout kept with the text.
//
// Lengths that RTF gives in twips are kept twice: as Qt lengths for layout
// (96-dpi pixels, which Qt scales to the paint device) and as the exact twips
// in user properties, so a save writes back what was read, not a rounded value.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTextFormat>

#include "platform/richtext/rtf_model.h"

class QTextDocument;
class QTextBlockFormat;
class QTextCharFormat;

namespace veltrane::richtext {

enum FormatProperty : int {
  kPlaceholderCodeProperty = QTextFormat::UserProperty + 1,    // int 1..5
  kPlaceholderMarkerProperty = QTextFormat::UserProperty + 2,  // bool
  kFirstIndentTwips = QTextFormat::UserProperty + 10,
  kLeftIndentTwips,
  kRightIndentTwips,
  kSpaceBeforeTwips,
  kSpaceAfterTwips,
  kLineHeightTwips,
  kLineMultiple,
};

// Paragraph values as the paragraph dialog and the page-break button use them.
struct ParagraphAttributes {
  int firstIndent = 0;  // twips, relative to the left indent
  int leftIndent = 0;
  int rightIndent = 0;
  int spaceBefore = 0;
  int spaceAfter = 0;
  int lineHeight = 0;   // 0 = single, >0 at least, <0 exactly (twips)
  bool pageBreakBefore = false;
  bool operator==(const ParagraphAttributes&) const = default;
};

ParagraphAttributes ParagraphAttributesOf(const QTextBlockFormat& format);
// Qt scales tab positions and line heights to the paint device but takes
// block margins and indents as device pixels: `marginScale` turns the
// 96-dpi lengths into the pixels of the device the text is laid out on.
void ApplyParagraphAttributes(const ParagraphAttributes& a, QTextBlockFormat& format,
                              double marginScale = 1.0);

// Distance of the default tab stops, in twips.
int DefaultTabOf(const QTextDocument& doc);
void SetDefaultTab(QTextDocument& doc, int twips);

RtfPageLayout PageLayoutOf(const QTextDocument& doc);
void SetPageLayout(QTextDocument& doc, const RtfPageLayout& layout);

void ModelToDocument(const RtfDocument& model, QTextDocument& doc);
RtfDocument DocumentToModel(const QTextDocument& doc);

// Replaces the document's contents. Returns 0 or a negative RtfReadError;
// on error the document is left empty and `message` says why.
int LoadRtf(const QByteArray& rtf, QTextDocument& doc, QString* message = nullptr);
QByteArray SaveRtf(const QTextDocument& doc);

// Fonts that faxes name but this system may lack are mapped to installed ones.
void InstallFontSubstitutions();

}  // namespace veltrane::richtext
