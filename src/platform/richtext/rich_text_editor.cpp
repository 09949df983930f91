#include "platform/richtext/rich_text_editor.h"

#include <QAbstractTextDocumentLayout>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/richtext/rtf_reader.h"

namespace veltrane::richtext {
namespace {

bool isMarker(const QTextCharFormat& f) { return f.boolProperty(kPlaceholderMarkerProperty); }
int codeOf(const QTextCharFormat& f) { return f.intProperty(kPlaceholderCodeProperty); }

QTextCharFormat formatAt(QTextDocument* doc, int position) {
  QTextCursor c(doc);
  c.setPosition(position);
  c.setPosition(position + 1, QTextCursor::KeepAnchor);
  return c.charFormat();  // format of the character after `position`
}

// A field: its marker (if shown) and the text after it, as document positions.
struct FieldSpan {
  int code = 0;
  int marker = -1;  // position of the marker, -1 when hidden
  int textStart = 0;
  int textEnd = 0;
};

std::vector<FieldSpan> findFields(QTextDocument* doc) {
  std::vector<FieldSpan> fields;
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      QTextFragment fragment = it.fragment();
      int code = codeOf(fragment.charFormat());
      if (code <= 0) continue;
      int start = fragment.position();
      int end = start + fragment.length();
      if (isMarker(fragment.charFormat())) {
        for (int p = start; p < end; ++p) fields.push_back({code, p, p + 1, p + 1});
        continue;
      }
      FieldSpan* last = fields.empty() ? nullptr : &fields.back();
      if (last && last->code == code && last->textEnd == start) {
        last->textEnd = end;  // same field continued in another format
      } else {
        fields.push_back({code, -1, start, end});
      }
    }
  }
  return fields;
}

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == QChar(0x2019); }

}  // namespace

QTextCharFormat MarkerFormat(int code) {
  QTextCharFormat f;
  f.setForeground(Qt::red);
  f.setProperty(kPlaceholderCodeProperty, code);
  f.setProperty(kPlaceholderMarkerProperty, true);
  return f;
}

RichTextEditor::RichTextEditor(QWidget* parent) : QTextEdit(parent) {
  InstallFontSubstitutions();
  setTabChangesFocus(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  SetPageLayout(*document(), kLetterHalfInchMargins);
  SetDefaultTab(*document(), 720);
  applyLayoutWidth();
  connect(document(), &QTextDocument::contentsChange, this, &RichTextEditor::keepFieldsClosed);
}

// Text typed at the end of a field is ordinary text, and text typed right
// after a marker is field text, never a second marker. Qt gives typed text the
// format of the character before it, so the fields are corrected afterwards.
void RichTextEditor::keepFieldsClosed(int position, int removed, int added) {
  if (internalEdit_ || added <= 0 || added == removed) return;
  QTextDocument* doc = document();
  int end = position + added;
  QTextCharFormat next = end < doc->characterCount() - 1 ? formatAt(doc, end) : QTextCharFormat();
  QTextCursor c(doc);
  internalEdit_ = true;
  for (int p = position; p < end; ++p) {
    QTextCharFormat f = formatAt(doc, p);
    int code = codeOf(f);
    if (code <= 0) continue;
    bool insideField = codeOf(next) == code && !isMarker(next);
    if (!insideField) {
      f.clearProperty(kPlaceholderCodeProperty);
    } else if (!isMarker(f)) {
      continue;
    }
    if (isMarker(f)) {
      f.clearProperty(kPlaceholderMarkerProperty);
      if (next.hasProperty(QTextFormat::ForegroundBrush)) f.setForeground(next.foreground());
      else f.clearForeground();
    }
    c.setPosition(p);
    c.setPosition(p + 1, QTextCursor::KeepAnchor);
    c.setCharFormat(f);
  }
  internalEdit_ = false;
}

void RichTextEditor::clearText() {
  RtfPageLayout layout = pageLayout();
  document()->clear();
  SetPageLayout(*document(), layout);
  markersVisible_ = true;
  walkPosition_ = -1;
}

int RichTextEditor::loadRichText(const QByteArray& data, QString* message) {
  QScopedValueRollback<bool> guard(internalEdit_, true);
  walkPosition_ = -1;
  markersVisible_ = true;
  int rc = LoadRtf(data, *document(), message);
  if (rc == kRtfNotRtf) {
    document()->setPlainText(QString::fromUtf8(data));
    SetPageLayout(*document(), kLetterHalfInchMargins);
    rc = 0;
  }
  rescaleMargins();
  applyLayoutWidth();
  return rc;
}

// Indents and paragraph spacing follow the zoom like the text does.
double RichTextEditor::marginScale() const { return zoom_ / 100.0 * logicalDpiX() / 96.0; }

void RichTextEditor::rescaleMargins() {
  double scale = marginScale();
  bool modified = document()->isModified();  // a zoom is not an edit of the text
  QTextCursor c(document());
  c.beginEditBlock();
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    QTextBlockFormat f = block.blockFormat();
    ParagraphAttributes a = ParagraphAttributesOf(f);
    QTextBlockFormat scaled = f;
    ApplyParagraphAttributes(a, scaled, scale);
    scaled.setLineHeight(f.lineHeight(), f.lineHeightType());  // Qt scales line heights itself
    if (scaled == f) continue;
    c.setPosition(block.position());
    c.setBlockFormat(scaled);
  }
  c.endEditBlock();
  document()->setModified(modified);
}

QByteArray RichTextEditor::saveRichText() const { return SaveRtf(*document()); }

void RichTextEditor::setPageLayout(const RtfPageLayout& layout) {
  SetPageLayout(*document(), layout);
  applyLayoutWidth();
}

RtfPageLayout RichTextEditor::pageLayout() const { return PageLayoutOf(*document()); }

void RichTextEditor::reformat() {
  document()->markContentsDirty(0, document()->characterCount());
  viewport()->update();
}

void RichTextEditor::caretToStart() {
  QTextCursor c(document());
  c.movePosition(QTextCursor::Start);
  setTextCursor(c);
}

void RichTextEditor::setZooming(int percent) {
  zoom_ = std::clamp(percent, 10, 800);
  double dpi = logicalDpiY() * zoom_ / 100.0;
  int dotsPerMeter = static_cast<int>(std::lround(dpi / 0.0254));
  zoomDevice_ = QImage(1, 1, QImage::Format_Grayscale8);
  zoomDevice_.setDotsPerMeterX(dotsPerMeter);
  zoomDevice_.setDotsPerMeterY(dotsPerMeter);
  document()->documentLayout()->setPaintDevice(zoom_ == 100 ? nullptr : &zoomDevice_);
  rescaleMargins();
  applyLayoutWidth();
  reformat();
}

void RichTextEditor::setWordWrap(bool on) {
  wordWrap_ = on;
  applyLayoutWidth();
}

void RichTextEditor::applyLayoutWidth() {
  if (wordWrap_) {
    setLineWrapMode(QTextEdit::WidgetWidth);
    return;
  }
  // Without word wrap the lines break where the page's text area ends.
  RtfPageLayout l = pageLayout();
  double dpi = logicalDpiX() * zoom_ / 100.0;
  int width = static_cast<int>((l.paperWidth - l.marginLeft - l.marginRight) * dpi / 1440.0);
  setLineWrapMode(QTextEdit::FixedPixelWidth);
  setLineWrapColumnOrWidth(std::max(width, 20));
}

ParagraphAttributes RichTextEditor::currentParagraph() const {
  return ParagraphAttributesOf(textCursor().blockFormat());
}

// Applied to every selected paragraph; their alignment and tabs stay their own.
void RichTextEditor::applyCurrentParagraph(const ParagraphAttributes& attributes) {
  QTextCursor c = textCursor();
  QTextBlockFormat f;
  ApplyParagraphAttributes(attributes, f, marginScale());
  c.mergeBlockFormat(f);
}

void RichTextEditor::setSpacing(int spaceBefore, int lineHeight, int spaceAfter) {
  ParagraphAttributes a = currentParagraph();
  a.spaceBefore = spaceBefore;
  a.lineHeight = lineHeight;
  a.spaceAfter = spaceAfter;
  applyCurrentParagraph(a);
}

void RichTextEditor::setIndents(int firstIndent, int leftIndent, int rightIndent) {
  ParagraphAttributes a = currentParagraph();
  a.firstIndent = firstIndent;
  a.leftIndent = leftIndent;
  a.rightIndent = rightIndent;
  applyCurrentParagraph(a);
}

void RichTextEditor::setPageBreakBeforeCurrentParagraph() {
  ParagraphAttributes a = currentParagraph();
  a.pageBreakBefore = true;
  applyCurrentParagraph(a);
  reformat();
}

void RichTextEditor::mergeWritingFormat(const QTextCharFormat& format) {
  QTextCursor c = textCursor();
  if (c.hasSelection()) c.mergeCharFormat(format);
  mergeCurrentCharFormat(format);
}

void RichTextEditor::setWritingFont(const QString& family) {
  QTextCharFormat f;
  f.setFontFamilies({family});
  mergeWritingFormat(f);
}

void RichTextEditor::setWritingSize(double points) {
  if (points <= 0) return;
  QTextCharFormat f;
  f.setFontPointSize(points);
  mergeWritingFormat(f);
}

void RichTextEditor::setWritingBold(bool on) {
  QTextCharFormat f;
  f.setFontWeight(on ? QFont::Bold : QFont::Normal);
  mergeWritingFormat(f);
}

void RichTextEditor::setWritingItalic(bool on) {
  QTextCharFormat f;
  f.setFontItalic(on);
  mergeWritingFormat(f);
}

void RichTextEditor::setWritingUnderline(bool on) {
  QTextCharFormat f;
  f.setFontUnderline(on);
  mergeWritingFormat(f);
}

void RichTextEditor::setWritingNormal() {
  QTextCharFormat f;
  f.setFontWeight(QFont::Normal);
  f.setFontItalic(false);
  f.setFontUnderline(false);
  mergeWritingFormat(f);
}

void RichTextEditor::insertPlaceholder(int code, const QString& displayText) {
  QScopedValueRollback<bool> guard(internalEdit_, true);
  QTextCursor c = textCursor();
  QTextCharFormat surrounding = c.charFormat();
  surrounding.clearProperty(kPlaceholderMarkerProperty);
  surrounding.clearProperty(kPlaceholderCodeProperty);
  QTextCharFormat marker = surrounding;
  marker.merge(MarkerFormat(code));
  QTextCharFormat text = surrounding;
  text.setProperty(kPlaceholderCodeProperty, code);
  c.beginEditBlock();
  c.insertText(QStringLiteral("*"), marker);
  c.insertText(displayText, text);
  c.endEditBlock();
  // Typing after the field must not extend it.
  setCurrentCharFormat(surrounding);
}

int RichTextEditor::mergePlaceholders() {
  if (!getTextToInsert) return 0;
  QScopedValueRollback<bool> guard(internalEdit_, true);
  std::vector<FieldSpan> fields = findFields(document());
  int merged = 0;
  QTextCursor c(document());
  c.beginEditBlock();
  // Back to front, so replacing one field does not move the ones before it.
  for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
    std::optional<QString> value = getTextToInsert(it->code);
    if (!value) continue;
    QTextCharFormat format = it->textEnd > it->textStart
                                 ? formatAt(document(), it->textStart)
                                 : formatAt(document(), it->marker);
    format.clearProperty(kPlaceholderMarkerProperty);
    if (it->marker >= 0 && it->textEnd == it->textStart) format.clearForeground();
    format.setProperty(kPlaceholderCodeProperty, it->code);
    c.setPosition(it->textStart);
    c.setPosition(it->textEnd, QTextCursor::KeepAnchor);
    c.insertText(value->left(kMaxMergedTextLength), format);
    ++merged;
  }
  c.endEditBlock();
  return merged;
}

void RichTextEditor::setMarkersVisible(bool visible) {
  if (visible == markersVisible_) return;
  markersVisible_ = visible;
  if (visible) showMarkers();
  else hideMarkers();
}

// Hidden markers are taken out of the text, so they are neither painted nor saved.
void RichTextEditor::hideMarkers() {
  QScopedValueRollback<bool> guard(internalEdit_, true);
  std::vector<FieldSpan> fields = findFields(document());
  QTextCursor c(document());
  c.beginEditBlock();
  for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
    if (it->marker < 0) continue;
    c.setPosition(it->marker);
    c.setPosition(it->marker + 1, QTextCursor::KeepAnchor);
    c.removeSelectedText();
  }
  c.endEditBlock();
}

void RichTextEditor::showMarkers() {
  QScopedValueRollback<bool> guard(internalEdit_, true);
  std::vector<FieldSpan> fields = findFields(document());
  QTextCursor c(document());
  c.beginEditBlock();
  for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
    if (it->marker >= 0) continue;
    QTextCharFormat format = formatAt(document(), it->textStart);
    format.merge(MarkerFormat(it->code));
    c.setPosition(it->textStart);
    c.insertText(QStringLiteral("*"), format);
  }
  c.endEditBlock();
}

void RichTextEditor::startWordWalk() {
  walkPosition_ = 0;
  caretToStart();
}

QString RichTextEditor::nextWord() {
  if (walkPosition_ < 0) walkPosition_ = 0;
  QTextDocument* doc = document();
  int end = doc->characterCount() - 1;
  int p = walkPosition_;
  while (p < end) {
    while (p < end && !isWordChar(doc->characterAt(p))) ++p;
    int start = p;
    while (p < end && (isWordChar(doc->characterAt(p)) ||
                       (doc->characterAt(p) == '\'' && p + 1 < end && doc->characterAt(p + 1).isLetter()))) {
      ++p;
    }
    if (p == start) break;
    QTextCursor c(doc);
    c.setPosition(start);
    c.setPosition(p, QTextCursor::KeepAnchor);
    QString word = c.selectedText();
    bool hasLetter = std::any_of(word.begin(), word.end(), [](QChar ch) { return ch.isLetter(); });
    if (!hasLetter) continue;  // numbers are not spelled
    walkPosition_ = p;
    setTextCursor(c);
    ensureCursorVisible();
    return word;
  }
  walkPosition_ = end;
  return {};
}

void RichTextEditor::replaceSelection(const QString& text) {
  QTextCursor c = textCursor();
  int start = c.selectionStart();
  c.insertText(text);
  if (walkPosition_ >= 0) walkPosition_ = start + static_cast<int>(text.size());
  setTextCursor(c);
}

void RichTextEditor::endWordWalk() {
  walkPosition_ = -1;
  QTextCursor c = textCursor();
  c.clearSelection();
  setTextCursor(c);
}

bool IsRichTextEmpty(const QTextDocument& doc) {
  if (doc.isEmpty()) return true;
  QString text = doc.toPlainText();
  if (text.size() >= 256) return false;
  text.replace(QChar(0x2028), QChar('\n'));
  QStringList lines = text.split(QChar('\n'));
  for (int i = 0; i < lines.size() && i <= 200; ++i) {
    for (QChar c : lines[i]) {
      if (c != QChar(' ')) return false;
    }
  }
  return true;
}

bool IsRichTextEmpty(const RichTextEditor& editor) { return IsRichTextEmpty(*editor.document()); }

}  // namespace veltrane::richtext
