// veltrane-fax render: a fax written in any word processor (RTF) becomes an
// APF file ready to send, exactly as the program renders a stored fax.
#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/args.h"
#include "cli/command.h"
#include "platform/richtext/render_fax.h"

namespace {

namespace fs = std::filesystem;
using veltrane::richtext::FaxRenderer;

// Font rendering needs an application object; without a display use the
// offscreen platform.
std::unique_ptr<QGuiApplication> makeApplication() {
  if (QGuiApplication::instance()) return nullptr;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
  static int argc = 1;
  static char name[] = "veltrane-fax";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

bool readFile(const std::string& path, QByteArray& out) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) {
    std::cerr << "veltrane-fax render: cannot read " << path << "\n";
    return false;
  }
  out = f.readAll();
  return true;
}

int runRender(const std::vector<std::string>& args) {
  veltrane::cli::ArgSpec spec("render [--cover COVER.rtf] [--doc DOC.rtf] -o FAX.apf",
                              "Renders a cover page and a document (RTF) into one APF fax file\n"
                              "and prints its page count.");
  spec.option("--cover", "COVER.rtf", "cover page").option("--doc", "DOC.rtf", "document")
      .option("-o", "FAX.apf", "output file");
  veltrane::cli::ParsedArgs a;
  if (int rc = veltrane::cli::parseArgs(spec, args, a, 0, 0); rc >= 0) return rc;
  auto output = a.get("-o");
  if (!output) {
    std::cerr << "veltrane-fax render: -o FAX.apf is required\n" << spec.helpText();
    return 2;
  }
  QByteArray cover, doc;
  if (auto p = a.get("--cover"); p && !readFile(*p, cover)) return 1;
  if (auto p = a.get("--doc"); p && !readFile(*p, doc)) return 1;

  auto app = makeApplication();
  // Scratch files go to a private folder next to the output, so a rename
  // finishes the job and nothing is left behind.
  fs::path target = fs::absolute(*output);
  std::string pattern = (target.parent_path() / ".veltrane-render-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::cerr << "veltrane-fax render: cannot create a scratch folder next to " << *output << "\n";
    return 1;
  }
  fs::path scratch = pattern;
  int status = 1;
  try {
    QString message;
    FaxRenderer renderer({scratch.string() + "/", 96, nullptr},
                         {nullptr, nullptr, [&](const QString& m) { message = m; }});
    QString made = renderer.CreateFaxFile(cover, doc);
    if (made.isEmpty()) {
      std::cerr << "veltrane-fax render: " << message.toStdString() << "\n";
    } else {
      fs::rename(made.toStdString(), target);
      std::cout << renderer.PageCountOfLastFaxFile << "\n";
      status = 0;
    }
  } catch (const std::exception& e) {
    std::cerr << "veltrane-fax render: " << e.what() << "\n";
  }
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return status;
}

}  // namespace

VELTRANE_CLI_COMMAND("render", "render RTF cover page and document into an APF fax file", runRender);
