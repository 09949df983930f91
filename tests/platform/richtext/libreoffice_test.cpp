// RTF against an independent word processor: files LibreOffice writes load
// with their formats, and files we write open there with the same pages.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "platform/richtext/page_painter.h"
#include "platform/richtext/rich_text_editor.h"
#include "platform/richtext/rtf_reader.h"
#include "richtext_fixtures.h"

namespace veltrane::richtext {
namespace {

using testing::numberedLines;
using testing::Para;

const QString kData = QStringLiteral(VELTRANE_TEST_DATA "/richtext/");
const PageFrame kFaxFrame{49, 49, 1615, 2107};

std::u16string textOf(const RtfParagraph& p) {
  std::u16string s;
  for (const RtfRun& r : p.runs) s += r.text;
  return s;
}

const RtfRun& runWithText(const RtfParagraph& p, const std::u16string& text) {
  for (const RtfRun& r : p.runs) {
    if (r.text == text) return r;
  }
  ADD_FAILURE() << "no run with that text";
  return p.runs.front();
}

// letter.fodt as LibreOffice saves it as RTF.
void expectLetter(const QByteArray& rtf) {
  RtfDocument d;
  std::string why;
  ASSERT_EQ(ReadRtf(rtf.toStdString(), d, &why), kRtfOk) << why;
  EXPECT_EQ(d.layout, kLetterHalfInchMargins);
  ASSERT_EQ(d.paragraphs.size(), 5u);
  auto fontOf = [&](const RtfRun& r) { return r.format.font >= 0 ? d.fonts[r.format.font].name : ""; };

  const RtfParagraph& title = d.paragraphs[0];
  EXPECT_EQ(textOf(title), u"Fax Cover Sheet");
  EXPECT_EQ(title.format.align, RtfAlign::Center);
  EXPECT_EQ(title.format.spaceAfter, 240);
  EXPECT_TRUE(title.runs[0].format.bold);
  EXPECT_EQ(title.runs[0].format.halfPoints, 40);
  EXPECT_EQ(fontOf(title.runs[0]), "Arial");

  const RtfParagraph& styles = d.paragraphs[1];
  EXPECT_EQ(textOf(styles), u"Plain, bold, italic and underlined words.");
  EXPECT_EQ(styles.format.align, RtfAlign::Left);
  const RtfRun& plain = runWithText(styles, u"Plain, ");
  EXPECT_FALSE(plain.format.bold || plain.format.italic || plain.format.underline);
  EXPECT_EQ(plain.format.halfPoints, 24);
  EXPECT_TRUE(runWithText(styles, u"bold").format.bold);
  EXPECT_TRUE(runWithText(styles, u"italic").format.italic);
  EXPECT_TRUE(runWithText(styles, u"underlined").format.underline);

  const RtfParaFormat& indented = d.paragraphs[2].format;
  EXPECT_EQ(indented.align, RtfAlign::Justify);
  EXPECT_EQ(indented.leftIndent, 1440);
  EXPECT_EQ(indented.rightIndent, 720);
  EXPECT_EQ(indented.firstIndent, -360);
  EXPECT_EQ(indented.spaceBefore, 120);
  EXPECT_EQ(indented.spaceAfter, 60);

  const RtfParagraph& right = d.paragraphs[3];
  EXPECT_EQ(right.format.align, RtfAlign::Right);
  EXPECT_EQ(fontOf(right.runs[0]), "Courier New");
  EXPECT_EQ(right.runs[0].format.halfPoints, 20);

  EXPECT_TRUE(d.paragraphs[4].format.pageBreakBefore);
  EXPECT_EQ(textOf(d.paragraphs[4]), u"Second page starts here.");
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(d.paragraphs[i].format.pageBreakBefore) << i;

  QTextDocument doc;
  ASSERT_EQ(LoadRtf(rtf, doc), 0);
  EXPECT_EQ(PagePainter(doc, 208, 96, kFaxFrame).pageCount(), 2);
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return f.readAll();
}

TEST(LibreOfficeRtf, StoredLetterLoadsWithItsFormats) {
  expectLetter(readFile(kData + "libreoffice_letter.rtf"));
}

// Converts files with a private LibreOffice profile; empty when soffice is missing.
class LibreOffice : public ::testing::Test {
 protected:
  void SetUp() override {
    soffice_ = QStandardPaths::findExecutable("soffice");
    if (soffice_.isEmpty()) GTEST_SKIP() << "soffice not installed (Debian libreoffice-writer-nogui)";
    ASSERT_TRUE(dir_.isValid());
  }

  void convert(const QString& format, const QStringList& files) {
    QStringList args{"--headless", "-env:UserInstallation=file://" + dir_.path() + "/profile",
                     "--convert-to", format, "--outdir", dir_.path()};
    QProcess p;
    p.start(soffice_, args + files);
    ASSERT_TRUE(p.waitForFinished(180000)) << "soffice did not finish";
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  }

  QString write(const QString& name, const QByteArray& data) {
    QString path = dir_.path() + "/" + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    return path;
  }

  int pdfPages(const QString& pdf) {
    QProcess p;
    p.start("pdfinfo", {pdf});
    p.waitForFinished(30000);
    auto m = QRegularExpression("Pages:\\s+(\\d+)").match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
  }

  QString pdfText(const QString& pdf) {
    QProcess p;
    p.start("pdftotext", {pdf, "-"});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
  }

  QString soffice_;
  QTemporaryDir dir_;
};

TEST_F(LibreOffice, WritesRtfThatLoadsWithItsFormats) {
  QFile::copy(kData + "letter.fodt", dir_.path() + "/letter.fodt");
  convert("rtf", {dir_.path() + "/letter.fodt"});
  expectLetter(readFile(dir_.path() + "/letter.rtf"));
}

TEST_F(LibreOffice, OpensOurRtfWithTheSamePagesAndVisibleFields) {
  std::vector<Para> breaks{{"First page"}, {"Second page", true}, {"still second"}, {"Third page", true}};
  std::vector<Para> spaced = numberedLines(40, "Spaced line ");
  for (Para& p : spaced) p.halfPoints = 36;

  RichTextEditor cover;
  cover.insertPlainText("To: ");
  cover.insertPlaceholder(1, "[RECIPIENT]");
  cover.insertPlainText("\nFax number: ");
  cover.insertPlaceholder(2, "[FAX#]");
  cover.getTextToInsert = [](int code) -> std::optional<QString> {
    return code == 1 ? std::optional<QString>("Jane Merged") : std::nullopt;
  };
  cover.mergePlaceholders();

  struct Case {
    QString name;
    QByteArray rtf;
  };
  std::vector<Case> cases{{"lines", testing::rtfOf(numberedLines(130))},
                          {"breaks", testing::rtfOf(breaks)},
                          {"large", testing::rtfOf(spaced)},
                          {"fields", cover.saveRichText()}};
  QStringList files;
  for (const Case& c : cases) files << write(c.name + ".rtf", c.rtf);
  convert("pdf", files);
  for (const Case& c : cases) {
    QTextDocument doc;
    ASSERT_EQ(LoadRtf(c.rtf, doc), 0);
    int ours = PagePainter(doc, 208, 96, kFaxFrame).pageCount();
    EXPECT_EQ(pdfPages(dir_.path() + "/" + c.name + ".pdf"), ours) << c.name.toStdString();
  }
  QString text = pdfText(dir_.path() + "/fields.pdf");
  EXPECT_TRUE(text.contains("To: *Jane Merged")) << text.toStdString();
  EXPECT_TRUE(text.contains("Fax number: *[FAX#]")) << text.toStdString();
}

}  // namespace
}  // namespace veltrane::richtext
