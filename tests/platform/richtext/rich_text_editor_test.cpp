#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QComboBox>
#include <QFontComboBox>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextCursor>

#include "platform/richtext/rich_text_editor.h"
#include "platform/richtext/rich_text_toolbar.h"
#include "platform/richtext/rtf_reader.h"
#include "richtext_fixtures.h"

namespace veltrane::richtext {
namespace {

// The cover template of the fax editor: text with two placeholder fields.
void writeTemplate(RichTextEditor& e) {
  e.clearText();
  e.insertPlainText("To: ");
  e.insertPlaceholder(1, "[RECIPIENT]");
  e.insertPlainText(" Fax: ");
  e.insertPlaceholder(2, "[FAX#]");
  e.insertPlainText(" Date: ");
  e.insertPlaceholder(4, "[DATE]");
}

std::vector<std::pair<int, std::u16string>> fieldsOf(const QByteArray& rtf, bool markers) {
  RtfDocument d;
  EXPECT_EQ(ReadRtf(rtf.toStdString(), d), kRtfOk);
  std::vector<std::pair<int, std::u16string>> fields;
  for (const RtfParagraph& p : d.paragraphs) {
    for (const RtfRun& r : p.runs) {
      if (r.format.placeholderCode == 0 || r.format.marker != markers) continue;
      fields.emplace_back(r.format.placeholderCode, r.text);
    }
  }
  return fields;
}

TEST(RichTextEditor, PlaceholdersShowRedMarkersAndSurviveSaveAndLoad) {
  RichTextEditor editor;
  writeTemplate(editor);
  EXPECT_EQ(editor.toPlainText(), "To: *[RECIPIENT] Fax: *[FAX#] Date: *[DATE]");
  QTextCursor c(editor.document());
  c.setPosition(5);  // just after the first marker
  EXPECT_EQ(c.charFormat().foreground().color(), QColor(Qt::red));
  c.setPosition(7);
  EXPECT_NE(c.charFormat().foreground().color(), QColor(Qt::red));  // field text looks like its surroundings

  QByteArray rtf = editor.saveRichText();
  RichTextEditor reloaded;
  ASSERT_EQ(reloaded.loadRichText(rtf), 0);
  EXPECT_EQ(reloaded.toPlainText(), editor.toPlainText());
  EXPECT_EQ(reloaded.saveRichText(), rtf);
  using Fields = std::vector<std::pair<int, std::u16string>>;
  EXPECT_EQ(fieldsOf(rtf, false), (Fields{{1, u"[RECIPIENT]"}, {2, u"[FAX#]"}, {4, u"[DATE]"}}));
  // Typing after a field does not extend it.
  reloaded.moveCursor(QTextCursor::End);
  reloaded.insertPlainText(" end");
  EXPECT_EQ(fieldsOf(reloaded.saveRichText(), false).back(), (std::pair<int, std::u16string>{4, u"[DATE]"}));
  // Typing right after a marker goes into the field's text, not a second marker.
  QTextCursor afterMarker(reloaded.document());
  afterMarker.setPosition(5);
  reloaded.setTextCursor(afterMarker);
  reloaded.insertPlainText("Dr ");
  QByteArray edited = reloaded.saveRichText();
  EXPECT_EQ(fieldsOf(edited, true).size(), 3u);
  EXPECT_EQ(fieldsOf(edited, false).front(), (std::pair<int, std::u16string>{1, u"Dr [RECIPIENT]"}));
}

TEST(RichTextEditor, MergeFillsFieldsAndHiddenMarkersAreNotSaved) {
  RichTextEditor editor;
  writeTemplate(editor);
  std::vector<int> asked;
  editor.getTextToInsert = [&](int code) -> std::optional<QString> {
    asked.push_back(code);
    if (code == 1) return QString(150, 'R');  // cut to 100 characters
    if (code == 2) return QString("555-0100");
    return std::nullopt;  // no value: the field keeps its text
  };
  EXPECT_EQ(editor.mergePlaceholders(), 2);
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<int>{1, 2, 4}));
  editor.setMarkersVisible(false);
  QString expected = "To: " + QString(100, 'R') + " Fax: 555-0100 Date: [DATE]";
  EXPECT_EQ(editor.toPlainText(), expected);

  QByteArray rtf = editor.saveRichText();
  EXPECT_TRUE(fieldsOf(rtf, true).empty()) << "no marker may be written";
  RichTextEditor reloaded;
  reloaded.loadRichText(rtf);
  EXPECT_EQ(reloaded.toPlainText(), expected);
  // The fields keep their codes: showing markers again puts them back in front.
  reloaded.setMarkersVisible(false);
  reloaded.setMarkersVisible(true);
  EXPECT_EQ(reloaded.toPlainText().toStdString(), ("To: *" + QString(100, QChar(0x52)) + " Fax: *555-0100 Date: *[DATE]").toStdString());
}

TEST(RichTextEditor, ParagraphAttributesAndPageBreakApplyToTheCaretParagraph) {
  RichTextEditor editor;
  editor.loadRichText(testing::rtfOf({{"first"}, {"second paragraph"}, {"third"}}));
  QTextCursor c(editor.document()->findBlockByNumber(1));
  c.movePosition(QTextCursor::NextWord);
  editor.setTextCursor(c);
  editor.setSpacing(240, -360, 120);
  editor.setIndents(-200, 720, 100);
  editor.setPageBreakBeforeCurrentParagraph();
  ParagraphAttributes expected{-200, 720, 100, 240, 120, -360, true};
  EXPECT_EQ(editor.currentParagraph(), expected);
  EXPECT_EQ(ParagraphAttributesOf(editor.document()->findBlockByNumber(0).blockFormat()), ParagraphAttributes{});

  RichTextEditor reloaded;
  reloaded.loadRichText(editor.saveRichText());
  EXPECT_EQ(ParagraphAttributesOf(reloaded.document()->findBlockByNumber(1).blockFormat()), expected);

  // Spacing set over a selection keeps each paragraph's own alignment and
  // replaces a proportional line height read from another word processor.
  RichTextEditor other;
  other.loadRichText("{\\rtf1\\pard\\qc\\sl360\\slmult1 centred\\par\\pard\\qr right}");
  other.selectAll();
  other.setSpacing(0, -300, 0);
  RtfDocument d;
  ASSERT_EQ(ReadRtf(other.saveRichText().toStdString(), d), kRtfOk);
  ASSERT_EQ(d.paragraphs.size(), 2u);
  EXPECT_EQ(d.paragraphs[0].format.align, RtfAlign::Center);
  EXPECT_EQ(d.paragraphs[1].format.align, RtfAlign::Right);
  for (const RtfParagraph& p : d.paragraphs) {
    EXPECT_EQ(p.format.lineHeight, -300);
    EXPECT_FALSE(p.format.lineMultiple);
  }
  EXPECT_FALSE(reloaded.document()->findBlockByNumber(2).blockFormat().pageBreakPolicy() &
               QTextFormat::PageBreak_AlwaysBefore);
}

TEST(RichTextEditor, WordWalkSelectsEachWordAndReplacesIt) {
  RichTextEditor editor;
  editor.setPlainText("Helo, wrld 42 don't\nnext-line");
  editor.startWordWalk();
  QStringList words;
  for (QString w = editor.nextWord(); !w.isEmpty(); w = editor.nextWord()) {
    words << w;
    EXPECT_EQ(editor.textCursor().selectedText(), w);
    if (w == "wrld") editor.replaceSelection("world");
    if (w == "Helo") editor.replaceSelection("Hello there");
  }
  EXPECT_EQ(words, (QStringList{"Helo", "wrld", "don't", "next", "line"}));
  EXPECT_EQ(editor.toPlainText(), "Hello there, world 42 don't\nnext-line");
  editor.endWordWalk();
  EXPECT_FALSE(editor.textCursor().hasSelection());
}

TEST(RichTextEditor, LayoutZoomWrapAndLoading) {
  RichTextEditor editor;
  EXPECT_EQ(editor.pageLayout(), kLetterHalfInchMargins);
  RtfPageLayout a4{11906, 16838, 1134, 1134, 1417, 1417};
  editor.setPageLayout(a4);
  editor.setZooming(150);
  EXPECT_EQ(editor.zooming(), 150);
  EXPECT_EQ(editor.lineWrapMode(), QTextEdit::FixedPixelWidth);
  int width150 = editor.lineWrapColumnOrWidth();
  editor.setZooming(100);
  EXPECT_NEAR(width150, editor.lineWrapColumnOrWidth() * 1.5, 2);
  editor.setWordWrap(true);
  EXPECT_EQ(editor.lineWrapMode(), QTextEdit::WidgetWidth);

  // Indents follow the zoom on screen while the stored value stays in twips.
  editor.setPlainText("indented");
  editor.setIndents(0, 1440, 0);
  editor.document()->setModified(false);
  editor.setZooming(200);
  EXPECT_FALSE(editor.document()->isModified());
  EXPECT_NEAR(editor.textCursor().blockFormat().leftMargin(), 192 * editor.logicalDpiX() / 96.0, 0.5);
  EXPECT_EQ(editor.currentParagraph().leftIndent, 1440);
  editor.setZooming(100);
  editor.setPlainText("x");
  EXPECT_EQ(RichTextEditor().loadRichText(editor.saveRichText()), 0);
  RichTextEditor copy;
  copy.loadRichText(editor.saveRichText());
  EXPECT_EQ(copy.pageLayout(), a4);

  // Plain text is shown as it is; damaged RTF leaves the editor empty with an error.
  EXPECT_EQ(copy.loadRichText("just text"), 0);
  EXPECT_EQ(copy.toPlainText(), "just text");
  QString why;
  EXPECT_EQ(copy.loadRichText("{\\rtf1" + QByteArray(600, '{'), &why), kRtfTooDeep);
  EXPECT_TRUE(copy.document()->isEmpty());
  EXPECT_FALSE(why.isEmpty());
  copy.setPlainText("abc");
  copy.moveCursor(QTextCursor::End);
  copy.caretToStart();
  EXPECT_EQ(copy.textCursor().position(), 0);
}

TEST(RichTextEditor, PastedFormattedTextKeepsItsFormatsInRtf) {
  auto* mime = new QMimeData;
  mime->setHtml("<b>bold</b> and <span style='font-size:14pt'>big</span><img src='x.png'>");
  QApplication::clipboard()->setMimeData(mime);
  RichTextEditor editor;
  editor.paste();
  RtfDocument d;
  ASSERT_EQ(ReadRtf(editor.saveRichText().toStdString(), d), kRtfOk);
  ASSERT_EQ(d.paragraphs.size(), 1u);
  ASSERT_EQ(d.paragraphs[0].runs.size(), 3u);
  EXPECT_EQ(d.paragraphs[0].runs[0].text, u"bold");
  EXPECT_TRUE(d.paragraphs[0].runs[0].format.bold);
  EXPECT_EQ(d.paragraphs[0].runs[2].text, u"big");  // the picture is not kept
  EXPECT_EQ(d.paragraphs[0].runs[2].format.halfPoints, 28);
}

TEST(RichTextToolBar, ButtonsDriveTheEditorAndFollowTheCaret) {
  RichTextEditor editor;
  RichTextToolBar bar;
  bar.setEditor(&editor);
  QSignalSpy spell(&editor, &RichTextEditor::startSpellCheck);
  bar.spellCheckAction()->trigger();
  EXPECT_EQ(spell.count(), 1);

  bar.boldAction()->trigger();
  bar.underlineAction()->trigger();
  bar.fontSizes()->textActivated("18");
  editor.insertPlainText("styled");
  bar.normalAction()->trigger();
  editor.insertPlainText(" plain");
  bar.centerAction()->trigger();
  RtfDocument d;
  ASSERT_EQ(ReadRtf(editor.saveRichText().toStdString(), d), kRtfOk);
  ASSERT_EQ(d.paragraphs.size(), 1u);
  EXPECT_EQ(d.paragraphs[0].format.align, RtfAlign::Center);
  ASSERT_EQ(d.paragraphs[0].runs.size(), 2u);
  const RtfCharFormat& styled = d.paragraphs[0].runs[0].format;
  EXPECT_TRUE(styled.bold && styled.underline && !styled.italic);
  EXPECT_EQ(styled.halfPoints, 36);
  EXPECT_FALSE(d.paragraphs[0].runs[1].format.bold);

  QTextCursor c(editor.document());
  c.setPosition(2);
  editor.setTextCursor(c);
  EXPECT_TRUE(bar.boldAction()->isChecked());
  EXPECT_TRUE(bar.centerAction()->isChecked());
  EXPECT_EQ(bar.fontSizes()->currentText(), "18");
  bar.setEditor(nullptr);
  EXPECT_FALSE(bar.isEnabled());
}

}  // namespace
}  // namespace veltrane::richtext
