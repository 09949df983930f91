#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextDocument>

#include "platform/richtext/rich_document.h"
#include "platform/richtext/rtf_reader.h"
#include "platform/richtext/rtf_writer.h"

namespace veltrane::richtext {
namespace {

// A document that uses everything the writer can express.
RtfDocument richModel() {
  RtfDocument d;
  d.fonts = {{"Arial", 0}, {"Times New Roman", 0}};
  d.layout = kLetterHalfInchMargins;
  d.defaultTab = 709;
  RtfCharFormat plain;
  plain.font = 0;
  RtfCharFormat bold = plain;
  bold.bold = true;
  bold.halfPoints = 36;
  RtfCharFormat fancy = plain;
  fancy.font = 1;
  fancy.italic = true;
  fancy.underline = true;
  fancy.color = 0x0000FF;
  RtfCharFormat marker = plain;
  marker.placeholderCode = 2;
  marker.marker = true;
  marker.color = 0xFF0000;
  RtfCharFormat field = plain;
  field.placeholderCode = 2;
  RtfCharFormat merged = plain;
  merged.placeholderCode = 4;

  RtfParagraph p1;
  p1.format.align = RtfAlign::Center;
  p1.format.spaceAfter = 240;
  p1.runs = {{bold, u"Title {x} \\ é€ 𝄞"}, {fancy, u" tab\there\u2028next"}};
  RtfParagraph p2;
  p2.format = {RtfAlign::Justify, -360, 720, 288, 120, 60, -300, false, true,
               {{4320, RtfTabKind::Right}, {6000, RtfTabKind::Decimal}}};
  p2.runs = {{plain, u"Fax: "}, {marker, u"*"}, {field, u"[FAX#]"}, {plain, u" on "}, {merged, u"12/11/26"}};
  RtfParagraph p3;
  p3.format.lineHeight = 360;
  p3.format.lineMultiple = true;
  RtfParagraph p4;
  p4.format.pageBreakBefore = true;
  p4.format.align = RtfAlign::Right;
  p4.runs = {{plain, u"last"}};
  RtfParagraph emptyLast;  // a trailing empty paragraph must not vanish
  emptyLast.format.pageBreakBefore = true;
  d.paragraphs = {p1, p2, p3, p4, emptyLast};
  return d;
}

TEST(RtfRoundTrip, ModelSurvivesWriteAndRead) {
  RtfDocument original = richModel();
  std::string rtf = WriteRtf(original);
  for (char c : rtf) ASSERT_LT(static_cast<unsigned char>(c), 0x80u) << "RTF must stay 7-bit";
  RtfDocument back;
  ASSERT_EQ(ReadRtf(rtf, back), kRtfOk);
  EXPECT_EQ(back.layout, original.layout);
  EXPECT_EQ(back.defaultTab, 709);
  EXPECT_EQ(back.fonts, original.fonts);
  ASSERT_EQ(back.paragraphs.size(), original.paragraphs.size());
  for (std::size_t i = 0; i < back.paragraphs.size(); ++i) {
    EXPECT_EQ(back.paragraphs[i], original.paragraphs[i]) << "paragraph " << i;
  }
}

// Shapes the fuzzer found where writing what was read did not settle.
TEST(RtfRoundTrip, WrittenOutputReadsBackToTheSameOutput) {
  static const char* const kCases[] = {
      "{\\rtf1 \\pard\\qc \x04\x01 text\\'01}",                      // control characters
      "{\\rtf1{\\fonttbl{\\f0 A;}}\\f9 unknown font\\f0  then font 0}",  // runs written alike
      "{\\rtf1{\\fonttbl{\\f0\\fcharset0 \xff\xff Arial\x01;}}x}",         // odd font names
      "{\\rtf1 a{\\field{\\*\\fldinst VLNFIELD 1 MARKER}{\\fldrslt *}}"
      "{\\field{\\*\\fldinst VLNFIELD 1 MARKER}{\\fldrslt *}}b}",                  // two empty fields
  };
  for (const char* rtf : kCases) {
    RtfDocument first;
    ASSERT_EQ(ReadRtf(rtf, first), kRtfOk) << rtf;
    std::string once = WriteRtf(first);
    RtfDocument second;
    ASSERT_EQ(ReadRtf(once, second), kRtfOk);
    EXPECT_EQ(WriteRtf(second), once) << rtf;
  }
}

TEST(RtfRoundTrip, DocumentLoadSaveLoadKeepsEverything) {
  std::string rtf = WriteRtf(richModel());
  QTextDocument first;
  ASSERT_EQ(LoadRtf(QByteArray::fromStdString(rtf), first), 0);
  EXPECT_EQ(first.blockCount(), 5);
  EXPECT_EQ(PageLayoutOf(first), kLetterHalfInchMargins);
  QTextBlockFormat second = first.findBlockByNumber(1).blockFormat();
  EXPECT_EQ(ParagraphAttributesOf(second), (ParagraphAttributes{-360, 720, 288, 120, 60, -300, true}));

  QByteArray saved = SaveRtf(first);
  QTextDocument again;
  ASSERT_EQ(LoadRtf(saved, again), 0);
  EXPECT_EQ(again.toPlainText(), first.toPlainText());
  EXPECT_EQ(SaveRtf(again), saved);  // nothing drifts on a second pass
  RtfDocument model;
  ASSERT_EQ(ReadRtf(saved.toStdString(), model), kRtfOk);
  RtfDocument expected = richModel();
  for (std::size_t i = 0; i < expected.paragraphs.size(); ++i) {
    EXPECT_EQ(model.paragraphs[i], expected.paragraphs[i]) << "paragraph " << i;
  }
}

TEST(RtfRoundTrip, LoadErrorLeavesDocumentEmptyWithMessage) {
  QTextDocument doc;
  doc.setPlainText("old");
  QString why;
  EXPECT_EQ(LoadRtf("no rtf here", doc, &why), kRtfNotRtf);
  EXPECT_TRUE(doc.isEmpty());
  EXPECT_FALSE(why.isEmpty());
}

}  // namespace
}  // namespace veltrane::richtext
