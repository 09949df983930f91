// Rendering a stored fax costs well under 50 ms a page, BMP file included.
// Reported: the whole CreateFaxFile per page (load, paint, _TMP.BMP, convert,
// join) and the painting of one page alone.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "platform/richtext/page_painter.h"
#include "platform/richtext/render_fax.h"
#include "platform/richtext/rtf_writer.h"

namespace {

using namespace veltrane::richtext;

// The application lives to the end of the process: destroying it among the
// static destructors, after Qt's own, crashes.
void ensureApplication() {
  if (QGuiApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
  static int argc = 1;
  static char name[] = "bench";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
}

// A business letter: full pages of 11-point text in justified paragraphs.
QByteArray letter(int pages) {
  RtfDocument d;
  d.fonts = {{"Arial", 0}, {"Times New Roman", 0}};
  d.layout = kLetterHalfInchMargins;
  const std::u16string sentence =
      u"The quarterly figures attached to this fax show the shipments of the last three months. ";
  for (int i = 0; i < pages * 9; ++i) {
    RtfParagraph p;
    p.format.align = RtfAlign::Justify;
    p.format.spaceAfter = 120;
    RtfCharFormat f;
    f.font = i % 2;
    f.halfPoints = 22;
    std::u16string text;
    for (int k = 0; k < 6; ++k) text += sentence;
    p.runs.push_back({f, text});
    d.paragraphs.push_back(p);
  }
  return QByteArray::fromStdString(WriteRtf(d));
}

void BM_CreateFaxFile(benchmark::State& state) {
  ensureApplication();
  QTemporaryDir dir;
  std::string folder = dir.path().toStdString() + "/";
  QByteArray doc = letter(static_cast<int>(state.range(0)));
  int pages = 0;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    FaxRenderer renderer({folder, 96, nullptr}, {});
    QString path = renderer.CreateFaxFile(QByteArray(), doc);
    pages = renderer.PageCountOfLastFaxFile;
    QFile::remove(path);
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  state.counters["pages"] = pages;
  state.counters["ms_per_page"] = ms / (static_cast<double>(state.iterations()) * std::max(pages, 1));
}
BENCHMARK(BM_CreateFaxFile)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_PaintPage(benchmark::State& state) {
  ensureApplication();
  QTextDocument doc;
  LoadMemo(letter(1), doc);
  PagePainter painter(doc, FaxZoomPercent(96), 96, PageFrame{});
  QImage page(kFaxPageWidth, kFaxPageHeight, QImage::Format_Mono);
  page.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  for (auto _ : state) {
    page.fill(0);
    benchmark::DoNotOptimize(painter.paintPage(page, 0));
  }
}
BENCHMARK(BM_PaintPage)->Unit(benchmark::kMillisecond);

}  // namespace
