#include "platform/richtext/render_fax.h"

#include <QImage>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "imaging/apf.h"
#include "imaging/bitmap.h"
#include "imaging/converter.h"
#include "imaging/converter_state.h"
#include "imaging/fax_exceptions.h"
#include "imaging/imaging_errors.h"
#include "imaging/input_reader.h"
#include "platform/richtext/page_painter.h"
#include "platform/richtext/rich_document.h"
#include "platform/richtext/rich_text_editor.h"
#include "platform/richtext/rtf_reader.h"

namespace veltrane::richtext {
namespace {

namespace fs = std::filesystem;

void letEventsRun(const FaxRenderOptions& options) {
  if (options.processEvents) options.processEvents();
}

void removeQuietly(const std::string& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

// The page bitmap in the layout the imaging code shares: 1 = black, MSB first.
imaging::MonoBitmap toMonoBitmap(const QImage& page) {
  imaging::MonoBitmap bitmap(page.width(), page.height());
  std::size_t rowBytes = std::min<std::size_t>(bitmap.stride, static_cast<std::size_t>(page.bytesPerLine()));
  for (int y = 0; y < page.height(); ++y) {
    std::memcpy(bitmap.Row(y), page.constScanLine(y), rowBytes);
  }
  return bitmap;
}

void convertPage(const std::string& bmpFile, const std::string& apfFile,
                 const FaxRenderOptions& options) {
  imaging::ConverterState state;
  state.flags = imaging::cfYield;  // no centring: the page already has its margins
  state.useHighRes = true;
  state.inputFileName = bmpFile;
  state.outputFileName = apfFile;
  if (options.processEvents) {
    state.yieldHook = [&options] {
      options.processEvents();
      return 0;
    };
  }
  std::unique_ptr<imaging::InputReader> reader = imaging::MakeBmpInputReader();
  state.reader = reader.get();
  if (int rc = imaging::ConvertToApfFile(state, *reader); rc < 0) imaging::ThrowFaxError(rc);
}

}  // namespace

std::string UniqueFaxFileName(const std::string& dataFolder) {
  for (int n = 1; n <= 1000; ++n) {
    std::string name = dataFolder + "VLN_" + std::to_string(n) + ".APF";
    std::error_code ec;
    if (!fs::exists(name, ec)) return name;
  }
  return dataFolder + "VLN1.APF";
}

void RenderPart(const QTextDocument& doc, std::vector<std::string>& pages,
                const FaxRenderOptions& options) {
  std::string firstPageName = UniqueFaxFileName(options.dataFolder);
  int pageNumber = static_cast<int>(pages.size());
  QImage bitmap(kFaxPageWidth, kFaxPageHeight, QImage::Format_Mono);
  if (bitmap.isNull()) imaging::ThrowFaxError(imaging::kErrCantMakeBitmap);
  bitmap.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});  // bit 1 = black
  PageFrame frame{kFaxPageOffset, kFaxPageOffset, kFaxPageWidth - kFaxPageOffset,
                  kFaxPageHeight - kFaxPageOffset};
  PagePainter painter(doc, FaxZoomPercent(options.screenDpi), options.screenDpi, frame);
  bitmap.fill(0);
  std::string bitmapFile = options.dataFolder + "_TMP.BMP";
  int position = 0;
  do {
    position = painter.paintPage(bitmap, position);
    ++pageNumber;
    std::string pageName = pageNumber <= 1 ? firstPageName
                                           : options.dataFolder + "VLNAX" +
                                                 std::to_string(pageNumber) + ".APF";
    // A black corner pixel keeps the page at full length even when blank.
    bitmap.setPixel(kFaxPageWidth - 1, kFaxPageHeight - 1, 1);
    if (int rc = imaging::WriteMonoBmp(bitmapFile, toMonoBitmap(bitmap)); rc < 0) {
      imaging::ThrowFaxError(rc);
    }
    letEventsRun(options);
    convertPage(bitmapFile, pageName, options);
    pages.push_back(pageName);
    bitmap.fill(0);
  } while (position > 0);
  removeQuietly(bitmapFile);
}

void RenderPart(RichTextEditor& editor, std::vector<std::string>& pages,
                const FaxRenderOptions& options) {
  editor.setZooming(FaxZoomPercent(options.screenDpi));
  RenderPart(*editor.document(), pages, options);
}

std::string JoinFaxFiles(const std::vector<std::string>& pages) {
  if (pages.empty()) return {};
  for (std::size_t k = 1; k < pages.size(); ++k) {
    if (int rc = imaging::AppendFaxFile(pages[0], pages[k]); rc < 0) imaging::ThrowFaxError(rc);
  }
  for (std::size_t k = 1; k < pages.size(); ++k) removeQuietly(pages[k]);
  return pages[0];
}

void LoadMemo(const QByteArray& memo, QTextDocument& doc) {
  QString why;
  int rc = LoadRtf(memo, doc, &why);
  if (rc == kRtfNotRtf) {
    doc.setPlainText(QString::fromUtf8(memo));
    SetPageLayout(doc, kLetterHalfInchMargins);
  } else if (rc < 0) {
    throw std::runtime_error("Cannot load the fax text: " + why.toStdString());
  }
}

FaxRenderer::FaxRenderer(FaxRenderOptions options, Hooks hooks)
    : options_(std::move(options)), hooks_(std::move(hooks)) {}

void FaxRenderer::status(const QString& text) {
  if (hooks_.showStatus) hooks_.showStatus(text);
  letEventsRun(options_);
}

QString FaxRenderer::CreateFaxFile(const QByteArray& rtfCover, const QByteArray& rtfDoc) {
  if (hooks_.setBusy) hooks_.setBusy(true);
  // Whatever happens, the window is usable again afterwards.
  struct Restore {
    FaxRenderer* r;
    bool done = false;
    void now() {
      if (done) return;
      done = true;
      if (r->hooks_.setBusy) r->hooks_.setBusy(false);
      if (r->hooks_.showStatus) r->hooks_.showStatus(QString());
    }
    ~Restore() { now(); }
  } restore{this};
  status(QStringLiteral("Creating fax file"));
  LoadMemo(rtfCover, wpCover_);
  LoadMemo(rtfDoc, wpDoc_);
  bool coverEmpty = IsRichTextEmpty(wpCover_);
  bool docEmpty = IsRichTextEmpty(wpDoc_);
  if (coverEmpty && docEmpty) {
    restore.now();  // the window is usable again before the message shows
    if (hooks_.showMessage) hooks_.showMessage(QStringLiteral("Fax has no contents or cover sheet"));
    return {};
  }
  std::vector<std::string> pages;
  status(QStringLiteral("Creating fax file...."));
  if (!coverEmpty) RenderPart(wpCover_, pages, options_);
  if (!docEmpty) RenderPart(wpDoc_, pages, options_);
  PageCountOfLastFaxFile = static_cast<int>(pages.size());
  status(QStringLiteral("Creating fax file........"));
  return QString::fromStdString(JoinFaxFiles(pages));
}

}  // namespace veltrane::richtext
