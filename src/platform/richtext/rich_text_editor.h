// The rich-text editor of fax documents, cover pages and templates.
//
// A QTextEdit that keeps the page layout with its text, reads and writes RTF,
// shows the letter layout at a zoom, carries placeholder fields (a marker
// character with the field's code, then the field's text), and offers the
// paragraph, writing-attribute and word-walk operations the dialogs use.
#pragma once

#include <QImage>
#include <QTextEdit>
#include <functional>
#include <optional>

#include "platform/richtext/rich_document.h"
#include "platform/richtext/rtf_model.h"

namespace veltrane::richtext {

// The values a merge puts into a field are cut to this many characters.
constexpr int kMaxMergedTextLength = 100;

class RichTextEditor : public QTextEdit {
  Q_OBJECT

 public:
  explicit RichTextEditor(QWidget* parent = nullptr);

  // Text in and out. Loading text that is not RTF shows it as plain text;
  // a damaged RTF file leaves the editor empty and returns the reader's error.
  void clearText();
  int loadRichText(const QByteArray& data, QString* message = nullptr);
  QByteArray saveRichText() const;

  void setPageLayout(const RtfPageLayout& layout);  // twips
  RtfPageLayout pageLayout() const;
  void reformat();
  void caretToStart();

  int zooming() const { return zoom_; }
  void setZooming(int percent);
  bool wordWrap() const { return wordWrap_; }
  void setWordWrap(bool on);

  // The paragraph that holds the caret.
  ParagraphAttributes currentParagraph() const;
  void applyCurrentParagraph(const ParagraphAttributes& attributes);
  void setSpacing(int spaceBefore, int lineHeight, int spaceAfter);
  void setIndents(int firstIndent, int leftIndent, int rightIndent);
  void setPageBreakBeforeCurrentParagraph();

  // Writing attributes: what typing produces from now on (and the selection).
  void setWritingFont(const QString& family);
  void setWritingSize(double points);
  void setWritingBold(bool on);
  void setWritingItalic(bool on);
  void setWritingUnderline(bool on);
  void setWritingNormal();

  // Placeholder fields.
  void insertPlaceholder(int code, const QString& displayText);
  // Asked for the value of each field by code; no value leaves the field as it is.
  std::function<std::optional<QString>(int code)> getTextToInsert;
  int mergePlaceholders();  // returns the number of fields given a value
  void setMarkersVisible(bool visible);
  bool markersVisible() const { return markersVisible_; }

  // Word walk for spell checking.
  void startWordWalk();
  QString nextWord();  // selects the word and scrolls to it; empty at the end
  void replaceSelection(const QString& text);
  void endWordWalk();
  void requestSpellCheck() { emit startSpellCheck(); }

 signals:
  void startSpellCheck();

 private:
  void keepFieldsClosed(int position, int removed, int added);
  void applyLayoutWidth();
  double marginScale() const;
  void rescaleMargins();
  void hideMarkers();
  void showMarkers();
  void mergeWritingFormat(const QTextCharFormat& format);

  int zoom_ = 100;
  bool wordWrap_ = false;
  bool markersVisible_ = true;
  int walkPosition_ = -1;
  bool internalEdit_ = false;  // set while this class edits fields itself
  QImage zoomDevice_;
};

// True when the text holds nothing but spaces and empty lines; a text of
// 256 characters or more always counts as content.
bool IsRichTextEmpty(const QTextDocument& doc);
bool IsRichTextEmpty(const RichTextEditor& editor);

QTextCharFormat MarkerFormat(int code);

}  // namespace veltrane::richtext
