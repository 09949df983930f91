#include "platform/richtext/page_painter.h"

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/richtext/rich_document.h"

namespace veltrane::richtext {
namespace {

// Pixels darker than this become black on the fax page.
constexpr int kInkThreshold = 224;

// Qt scales block lengths by device dpi over its own base dpi (96 unless a
// screen says otherwise); lengths are stored for 96, so correct for the rest.
double qtBaseDpi() {
  if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi) || !qGuiApp) return 96.0;
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? std::round(screen->logicalDotsPerInchY()) : 96.0;
}

// Eight greyscale pixels to one byte of ink bits, leftmost pixel in the most
// significant bit; a pixel is ink when below kInkThreshold (224 = 0xE0, so
// exactly when its top three bits are not all set).
uchar inkOfEight(const uchar* grey) {
  static_assert(kInkThreshold == 0xE0);
  uint64_t eight;
  std::memcpy(&eight, grey, sizeof eight);
  if constexpr (std::endian::native == std::endian::big) eight = __builtin_bswap64(eight);
  uint64_t notPaper = (eight & 0xE0E0E0E0E0E0E0E0ull) ^ 0xE0E0E0E0E0E0E0E0ull;
  uint64_t flags = (notPaper | (notPaper << 1) | (notPaper << 2)) & 0x8080808080808080ull;
  // Gathers the flag of byte i (pixel i in memory order) into bit 7 - i.
  return static_cast<uchar>(((flags >> 7) * 0x8040201008040201ull) >> 56);
}

int twipsToPixels(int twips, double dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

}  // namespace

int FaxZoomPercent(int screenDpi) { return screenDpi > 0 ? 20000 / screenDpi : 100; }

PagePainter::PagePainter(const QTextDocument& doc, int zoomPercent, int screenDpi,
                         const PageFrame& frame)
    : doc_(doc.clone()), frame_(frame) {
  InstallFontSubstitutions();
  // Dynamic properties do not travel with a clone.
  SetPageLayout(*doc_, PageLayoutOf(doc));
  SetDefaultTab(*doc_, DefaultTabOf(doc));
  dpi_ = std::max(1.0, screenDpi * std::max(zoomPercent, 1) / 100.0);
  int dotsPerMeter = static_cast<int>(std::lround(dpi_ / 0.0254));
  device_ = QImage(1, 1, QImage::Format_Grayscale8);
  device_.setDotsPerMeterX(dotsPerMeter);
  device_.setDotsPerMeterY(dotsPerMeter);
  dpi_ = device_.logicalDpiY();

  RtfPageLayout layout = PageLayoutOf(doc);
  int paperW = twipsToPixels(layout.paperWidth, dpi_);
  int paperH = twipsToPixels(layout.paperHeight, dpi_);
  originX_ = std::max(frame.left, twipsToPixels(layout.marginLeft, dpi_));
  originY_ = std::max(frame.top, twipsToPixels(layout.marginTop, dpi_));
  int right = std::min(frame.right, paperW - twipsToPixels(layout.marginRight, dpi_));
  int bottom = std::min(frame.bottom, paperH - twipsToPixels(layout.marginBottom, dpi_));
  // Margins that leave no room are not trusted: use the whole frame then.
  if (right - originX_ < dpi_ / 2) { originX_ = frame.left; right = frame.right; }
  if (bottom - originY_ < dpi_ / 2) { originY_ = frame.top; bottom = frame.bottom; }
  textWidth_ = std::max(1, right - originX_);
  pageHeight_ = std::max(1, bottom - originY_);

  prepareDocument();
  findPageStarts();
}

PagePainter::~PagePainter() = default;

void PagePainter::prepareDocument() {
  QTextDocument& d = *doc_;
  d.setUndoRedoEnabled(false);
  d.documentLayout()->setPaintDevice(&device_);
  d.setDocumentMargin(0);
  QTextFrameFormat root = d.rootFrame()->frameFormat();
  root.setMargin(0);
  root.setPadding(0);
  root.setBorder(0);
  d.rootFrame()->setFrameFormat(root);

  // Sharp one-bit glyphs need the fonts themselves to refuse antialiasing.
  QFont base = d.defaultFont();
  base.setStyleStrategy(QFont::NoAntialias);
  d.setDefaultFont(base);
  QTextCursor all(&d);
  all.select(QTextCursor::Document);
  QTextCharFormat noAntialias;
  noAntialias.setFontStyleStrategy(QFont::NoAntialias);
  all.mergeCharFormat(noAntialias);

  double scale = 96.0 / qtBaseDpi();
  QTextOption option = d.defaultTextOption();
  option.setTabStopDistance(DefaultTabOf(d) / 15.0 * scale);
  d.setDefaultTextOption(option);
  bool first = true;
  for (QTextBlock block = d.begin(); block.isValid(); block = block.next()) {
    QTextBlockFormat f = block.blockFormat();
    ParagraphAttributes a = ParagraphAttributesOf(f);
    bool multiple = f.boolProperty(kLineMultiple);
    double percent = f.lineHeight();
    if (first) a.pageBreakBefore = false;  // a break before the first line would waste a page
    first = false;
    ApplyParagraphAttributes(a, f, dpi_ / 96.0);
    if (multiple) {
      f.setLineHeight(percent, QTextBlockFormat::ProportionalHeight);
    } else if (scale != 1.0 && f.lineHeightType() != QTextBlockFormat::SingleHeight) {
      f.setLineHeight(f.lineHeight() * scale, f.lineHeightType());
    }
    if (scale != 1.0) {
      QList<QTextOption::Tab> tabs = f.tabPositions();
      for (QTextOption::Tab& t : tabs) t.position *= scale;
      f.setTabPositions(tabs);
    }
    QTextCursor(block).setBlockFormat(f);
  }
  d.setTextWidth(textWidth_);
  d.setPageSize(QSizeF(textWidth_, pageHeight_));
}

void PagePainter::findPageStarts() {
  pageStarts_.assign(1, 0);
  QAbstractTextDocumentLayout* layout = doc_->documentLayout();
  for (QTextBlock block = doc_->begin(); block.isValid(); block = block.next()) {
    QRectF box = layout->blockBoundingRect(block);
    QTextLayout* lines = block.layout();
    for (int i = 0; i < lines->lineCount(); ++i) {
      QTextLine line = lines->lineAt(i);
      double y = box.top() + line.y();
      int page = static_cast<int>(std::floor((y + 0.5) / pageHeight_));
      while (static_cast<int>(pageStarts_.size()) <= page) {
        pageStarts_.push_back(block.position() + line.textStart());
      }
    }
  }
}

int PagePainter::pageOf(int position) const {
  auto it = std::upper_bound(pageStarts_.begin(), pageStarts_.end(), position);
  return std::max(0, static_cast<int>(it - pageStarts_.begin()) - 1);
}

int PagePainter::paintPage(QImage& canvas, int start) {
  int page = pageOf(std::max(start, 0));
  if (scratch_.size() != canvas.size()) {
    scratch_ = QImage(canvas.size(), QImage::Format_Grayscale8);
  }
  scratch_.setDotsPerMeterX(device_.dotsPerMeterX());
  scratch_.setDotsPerMeterY(device_.dotsPerMeterY());
  scratch_.fill(255);
  {
    QPainter painter(&scratch_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    double pageTop = page * pageHeight_;
    painter.translate(originX_, originY_ - pageTop);
    QRectF clip(0, pageTop, textWidth_, pageHeight_);
    painter.setClipRect(clip);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    context.palette.setColor(QPalette::Text, Qt::black);
    doc_->documentLayout()->draw(&painter, context);
  }
  copyInk(canvas, page);
  return page + 1 < pageCount() ? pageStarts_[page + 1] : 0;
}

void PagePainter::copyInk(QImage& canvas, int) const {
  int x0 = std::clamp(originX_, 0, canvas.width());
  int x1 = std::clamp(originX_ + static_cast<int>(std::ceil(textWidth_)), 0, canvas.width());
  int y0 = std::clamp(originY_, 0, canvas.height());
  int y1 = std::clamp(originY_ + static_cast<int>(std::ceil(pageHeight_)), 0, canvas.height());
  if (canvas.format() != QImage::Format_Mono) {
    QPainter p(&canvas);
    for (int y = y0; y < y1; ++y) {
      const uchar* row = scratch_.constScanLine(y);
      for (int x = x0; x < x1; ++x) {
        if (row[x] < kInkThreshold) p.fillRect(x, y, 1, 1, Qt::black);
      }
    }
    return;
  }
  // Format_Mono: leftmost pixel in the most significant bit; the ink bit
  // value depends on which colour-table entry is black.
  QList<QRgb> table = canvas.colorTable();
  bool blackIsOne = table.size() < 2 || qGray(table[1]) < qGray(table[0]);
  for (int y = y0; y < y1; ++y) {
    const uchar* row = scratch_.constScanLine(y);
    uchar* bits = canvas.scanLine(y);
    int x = x0;
    while (x < x1) {
      uchar ink = 0;
      if ((x & 7) == 0 && x + 8 <= x1) {
        ink = inkOfEight(row + x);
        x += 8;
      } else {
        if (row[x] < kInkThreshold) ink = static_cast<uchar>(0x80u >> (x & 7));
        ++x;
      }
      if (!ink) continue;
      uchar& target = bits[(x - 1) >> 3];
      if (blackIsOne) target |= ink;
      else target &= static_cast<uchar>(~ink);
    }
  }
}

}  // namespace veltrane::richtext
