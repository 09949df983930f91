// Small builders for the rich-text tests: documents written through the
// model writer, so each test states only the paragraphs that matter.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QTextDocument>
#include <string>
#include <vector>

#include "platform/richtext/rich_document.h"
#include "platform/richtext/rtf_writer.h"

namespace veltrane::richtext::testing {

struct Para {
  std::string text;
  bool breakBefore = false;
  int halfPoints = 24;
};

inline RtfDocument modelOf(const std::vector<Para>& paras, RtfPageLayout layout = kLetterHalfInchMargins) {
  RtfDocument d;
  d.fonts = {{"Arial", 0}};
  d.layout = layout;
  for (const Para& p : paras) {
    RtfParagraph para;
    para.format.pageBreakBefore = p.breakBefore;
    RtfCharFormat f;
    f.font = 0;
    f.halfPoints = p.halfPoints;
    para.runs.push_back({f, std::u16string(p.text.begin(), p.text.end())});
    d.paragraphs.push_back(para);
  }
  return d;
}

inline QByteArray rtfOf(const std::vector<Para>& paras) {
  return QByteArray::fromStdString(WriteRtf(modelOf(paras)));
}

inline std::vector<Para> numberedLines(int count, const std::string& prefix = "Line ") {
  std::vector<Para> lines;
  for (int i = 1; i <= count; ++i) lines.push_back({prefix + std::to_string(i)});
  return lines;
}

// Rows and columns that hold black pixels of a one-bit page.
struct InkBox {
  int left = -1, top = -1, right = -1, bottom = -1;  // inclusive; -1 when blank
  bool blank() const { return left < 0; }
};

inline InkBox inkOf(const QImage& page, int ignoreFromX = 1 << 30, int ignoreFromY = 1 << 30) {
  InkBox box;
  for (int y = 0; y < page.height(); ++y) {
    for (int x = 0; x < page.width(); ++x) {
      if (x >= ignoreFromX && y >= ignoreFromY) continue;
      if (qGray(page.pixel(x, y)) >= 128) continue;
      if (box.left < 0 || x < box.left) box.left = x;
      if (box.top < 0) box.top = y;
      box.right = std::max(box.right, x);
      box.bottom = y;
    }
  }
  return box;
}

inline QImage blankFaxPage() {
  QImage page(1664, 2156, QImage::Format_Mono);
  page.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  page.fill(0);
  return page;
}

}  // namespace veltrane::richtext::testing
