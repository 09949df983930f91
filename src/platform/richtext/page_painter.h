// Paints the pages of a rich-text document into one-bit fax page bitmaps.
//
// The document is laid out on its own page layout (paper and margins in
// twips) at zoom x screen dpi / 100, about 200 pixels per inch for faxes.
// A page ends where the text area is full or before a paragraph that
// carries the page-break-before flag. Glyphs are drawn without antialiasing
// and any pixel darker than near-white becomes black, so coloured text stays
// readable on the fax.
#pragma once

#include <QImage>
#include <memory>
#include <vector>

class QTextDocument;

namespace veltrane::richtext {

// Where a page goes on the bitmap. The text area is the page's margin box,
// kept inside [left, right) x [top, bottom) of the bitmap.
struct PageFrame {
  int left = 49;
  int top = 49;
  int right = 1615;
  int bottom = 2107;
};

class PagePainter {
 public:
  // Copies `doc`; later edits to it do not change this painter's pages.
  PagePainter(const QTextDocument& doc, int zoomPercent, int screenDpi, const PageFrame& frame);
  ~PagePainter();

  int pageCount() const { return static_cast<int>(pageStarts_.size()); }
  double dotsPerInch() const { return dpi_; }

  // Paints the page that holds text position `start` (0 = first page) onto
  // `canvas` (any format; Format_Mono for fax pages), leaving pixels outside
  // the glyphs as they are. Returns the text position where the next page
  // starts, or 0 when the text ended on this page.
  int paintPage(QImage& canvas, int start);

  // Page index that holds a text position.
  int pageOf(int position) const;

 private:
  void prepareDocument();
  void findPageStarts();
  void copyInk(QImage& canvas, int page) const;

  std::unique_ptr<QTextDocument> doc_;
  QImage device_;   // gives the layout its dots per inch
  QImage scratch_;  // greyscale page, thresholded into the canvas
  PageFrame frame_;
  double dpi_;
  double textWidth_ = 0;
  double pageHeight_ = 0;
  int originX_ = 0;
  int originY_ = 0;
  std::vector<int> pageStarts_;
};

// Zoom that paints text at about 200 pixels per inch from a screen of
// `screenDpi` pixels per inch: the division truncates (208 at 96, 166 at 120).
int FaxZoomPercent(int screenDpi);

}  // namespace veltrane::richtext
