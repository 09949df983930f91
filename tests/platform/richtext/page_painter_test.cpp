#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextDocument>
#include <cstdlib>

#include "platform/richtext/page_painter.h"
#include "platform/richtext/rich_document.h"
#include "richtext_fixtures.h"

namespace veltrane::richtext {
namespace {

using testing::blankFaxPage;
using testing::inkOf;
using testing::numberedLines;
using testing::Para;
using testing::rtfOf;

const PageFrame kFaxFrame{49, 49, 1615, 2107};

QTextDocument* load(QTextDocument& doc, const QByteArray& rtf) {
  EXPECT_EQ(LoadRtf(rtf, doc), 0);
  return &doc;
}

// Paints every page from position 0 on, as the renderer does.
std::vector<std::pair<int, QImage>> paintAll(PagePainter& painter) {
  std::vector<std::pair<int, QImage>> pages;
  int position = 0;
  do {
    QImage page = blankFaxPage();
    int start = position;
    position = painter.paintPage(page, position);
    if (const char* dir = std::getenv("VELTRANE_RICHTEXT_DUMP")) {  // for looking at pages
      page.save(QString("%1/page-%2.png").arg(dir).arg(pages.size() + 1));
    }
    pages.emplace_back(start, page);
  } while (position > 0 && pages.size() < 100);
  return pages;
}

TEST(PagePainter, UserPageBreaksStartPagesWithTheParagraphAfterThem) {
  QTextDocument doc;
  load(doc, rtfOf({{"one"}, {"two", true}, {"three"}, {"four", true}}));
  PagePainter painter(doc, FaxZoomPercent(96), 96, kFaxFrame);
  ASSERT_EQ(painter.pageCount(), 3);
  auto pages = paintAll(painter);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[1].first, doc.findBlockByNumber(1).position());
  EXPECT_EQ(pages[2].first, doc.findBlockByNumber(3).position());
  for (const auto& [start, image] : pages) {
    testing::InkBox ink = inkOf(image);
    ASSERT_FALSE(ink.blank());
    // Each page's first line sits at the top margin (0.5 inch = 100 px).
    EXPECT_NEAR(ink.top, 110, 15) << "page starting at " << start;
  }
}

TEST(PagePainter, FullPagesFlowOverAndStayInsideTheMargins) {
  QTextDocument doc;
  load(doc, rtfOf(numberedLines(150)));
  PagePainter painter(doc, FaxZoomPercent(96), 96, kFaxFrame);
  auto pages = paintAll(painter);
  // 12-point Arial lines are about 13.8 points: some 52 to a 10-inch text area.
  ASSERT_EQ(pages.size(), 3u);
  int previousStart = -1;
  for (const auto& [start, image] : pages) {
    EXPECT_GT(start, previousStart);
    previousStart = start;
    testing::InkBox ink = inkOf(image);
    ASSERT_FALSE(ink.blank());
    EXPECT_GE(ink.left, 100);
    EXPECT_LE(ink.left, 106);
    EXPECT_GE(ink.top, 100);
    EXPECT_LE(ink.right, 1600);
    EXPECT_LE(ink.bottom, 2100);
  }
  // No line is lost or painted twice at a page boundary: the next page starts
  // at a paragraph that the previous page did not reach.
  QTextBlock second = doc.findBlock(pages[1].first);
  EXPECT_EQ(second.position(), pages[1].first);
  EXPECT_GT(second.blockNumber(), 45);
}

TEST(PagePainter, TextIsLaidOutAtAboutTwoHundredDotsPerInch) {
  // A 72-point capital H is about 0.72 inch tall: ~143 px at 200 dpi, half
  // that if the layout fell back to screen resolution.
  QTextDocument doc;
  load(doc, rtfOf({{"H", false, 144}}));
  PagePainter painter(doc, FaxZoomPercent(96), 96, kFaxFrame);
  EXPECT_EQ(painter.dotsPerInch(), 200);  // 208 % of 96, to whole dots
  QImage page = blankFaxPage();
  EXPECT_EQ(painter.paintPage(page, 0), 0);
  testing::InkBox ink = inkOf(page);
  EXPECT_NEAR(ink.bottom - ink.top + 1, 143, 6);
}

// Lengths given in twips land where they would on paper at 200 dpi.
TEST(PagePainter, TabsIndentsAndLineHeightsScaleToThePage) {
  const QByteArray head = "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\margl720\\margr720\\margt720\\margb720";
  static const struct {
    const char* body;
    int rightmostInk;  // bitmap column, 0.5-inch margin at 100
  } kCases[] = {
      {"\\pard\\tqr\\tx10800 a\\tab b}", 1600},      // right tab at the right margin
      {"\\pard a\\tab b}", 215},                         // default stops every 0.5 inch
      {"\\deftab1440\\pard a\\tab b}", 315},           // \\deftab
      {"\\pard\\tx2880 a\\tab b}", 515},               // left tab at 2 inches
      {"\\pard\\li2880 b}", 515},                        // left indent of 2 inches
      {"\\pard\\fi2880 b}", 515},                        // first-line indent
      {"\\pard\\ri5040\\qr b}", 900},                   // right indent of 3.5 inches
  };
  for (const auto& c : kCases) {
    QTextDocument doc;
    load(doc, head + c.body);
    PagePainter painter(doc, 208, 96, kFaxFrame);
    QImage page = blankFaxPage();
    painter.paintPage(page, 0);
    EXPECT_NEAR(inkOf(page).right, c.rightmostInk, 12) << c.body;
  }
  QByteArray exactLines = head;
  for (int i = 0; i < 60; ++i) exactLines += "\\pard\\sl-480\\slmult0 line\\par";
  QTextDocument doc;
  load(doc, exactLines + "}");
  EXPECT_EQ(PagePainter(doc, 208, 96, kFaxFrame).pageCount(), 2);  // 30 lines of 1/3 inch a page
}

TEST(PagePainter, ZoomTruncatesTowardTwoHundredDotsPerInch) {
  static const struct { int screenDpi, zoom; } kCases[] = {
      {96, 208}, {120, 166}, {72, 277}, {144, 138}, {200, 100}};
  for (const auto& c : kCases) EXPECT_EQ(FaxZoomPercent(c.screenDpi), c.zoom) << c.screenDpi;

  QTextDocument doc;
  load(doc, rtfOf({{"x"}}));
  PagePainter at120(doc, FaxZoomPercent(120), 120, kFaxFrame);
  EXPECT_EQ(at120.dotsPerInch(), 199);  // 166 % of 120: the truncation shows
}

TEST(PagePainter, OneBitPageHasTheSamePixelsAsAColourPage) {
  // The one-bit path packs eight pixels at a time; the colour path sets them
  // one by one. Both must agree on every pixel, bit order included.
  QTextDocument doc;
  load(doc, rtfOf({{"Packed bits: the quick brown fox jumps over the lazy dog 0123456789"},
                   {"Wide", false, 96}}));
  PagePainter painter(doc, 208, 96, kFaxFrame);
  QImage mono = blankFaxPage();
  QImage colour(mono.size(), QImage::Format_RGB32);
  colour.fill(Qt::white);
  painter.paintPage(mono, 0);
  painter.paintPage(colour, 0);
  int inkPixels = 0;
  for (int y = 90; y < 400; ++y) {
    for (int x = 0; x < mono.width(); ++x) {
      bool monoInk = mono.pixelIndex(x, y) == 1;
      ASSERT_EQ(monoInk, qGray(colour.pixel(x, y)) < 128) << x << "," << y;
      inkPixels += monoInk;
    }
  }
  EXPECT_GT(inkPixels, 5000);
}

TEST(PagePainter, EmptyDocumentIsOneBlankPage) {
  QTextDocument doc;
  PagePainter painter(doc, 208, 96, kFaxFrame);
  QImage page = blankFaxPage();
  EXPECT_EQ(painter.paintPage(page, 0), 0);
  EXPECT_TRUE(inkOf(page).blank());
  EXPECT_EQ(painter.pageCount(), 1);
}

}  // namespace
}  // namespace veltrane::richtext
