// Rendering a stored fax (cover page and document, both RTF) into one APF file.
//
// Each page is painted into a 1664 x 2156 one-bit bitmap, written to the
// scratch file "_TMP.BMP", converted into a one-page APF file, and the page
// files are joined into the first one. Errors while loading, painting,
// writing, converting or joining are thrown (imaging::EFaxException for the
// imaging steps, std::runtime_error for text that cannot be loaded).
#pragma once

#include <QByteArray>
#include <QString>
#include <QTextDocument>
#include <functional>
#include <string>
#include <vector>

namespace veltrane::richtext {

constexpr int kFaxPageWidth = 1664;
constexpr int kFaxPageHeight = 2156;
constexpr int kFaxPageOffset = 49;  // painting origin from the left and top edges

struct FaxRenderOptions {
  std::string dataFolder;               // ends with '/'
  int screenDpi = 96;                   // sets the zoom, see FaxZoomPercent
  std::function<void()> processEvents;  // lets pending window messages run
};

// DataFolder + "VLN_" + n + ".APF" for the smallest free n in 1..1000;
// DataFolder + "VLN1.APF" when all are taken.
std::string UniqueFaxFileName(const std::string& dataFolder);

// Paints `doc` page by page and appends one APF file per page to `pages`.
// Page numbers count over the whole list: the first page of the fax gets
// UniqueFaxFileName, every later page "VLNAX" + number + ".APF".
void RenderPart(const QTextDocument& doc, std::vector<std::string>& pages,
                const FaxRenderOptions& options);

// The same for an editor, which keeps the fax zoom afterwards as the hidden
// editors of the main window do.
class RichTextEditor;
void RenderPart(RichTextEditor& editor, std::vector<std::string>& pages,
                const FaxRenderOptions& options);

// Appends pages[1..] to pages[0] in order, deletes them and returns pages[0].
std::string JoinFaxFiles(const std::vector<std::string>& pages);

// The main window's part of rendering: two hidden documents standing for the
// cover and document editors, and the page count of the file made last.
class FaxRenderer {
 public:
  struct Hooks {
    std::function<void(bool busy)> setBusy;            // hourglass and button bar
    std::function<void(const QString&)> showStatus;    // status line
    std::function<void(const QString&)> showMessage;   // plain message box
  };

  FaxRenderer(FaxRenderOptions options, Hooks hooks);

  // The path of the finished APF file, or an empty text when the fax has
  // neither cover nor document ("Fax has no contents or cover sheet").
  QString CreateFaxFile(const QByteArray& rtfCover, const QByteArray& rtfDoc);

  int PageCountOfLastFaxFile = 0;
  QTextDocument& cover() { return wpCover_; }
  QTextDocument& document() { return wpDoc_; }

 private:
  void status(const QString& text);

  FaxRenderOptions options_;
  Hooks hooks_;
  QTextDocument wpCover_;
  QTextDocument wpDoc_;
};

// Loads memo text into a document as the editors do: RTF, or plain text when
// it is not RTF. Throws std::runtime_error for RTF that cannot be read.
void LoadMemo(const QByteArray& memo, QTextDocument& doc);

}  // namespace veltrane::richtext
