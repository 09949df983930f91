#include <gtest/gtest.h>

// Before any Qt header: Qt's "slots" keyword macro would eat a member name there.
#include "imaging/apf.h"
#include "imaging/fax_exceptions.h"
#include "imaging/unpack.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include "platform/richtext/render_fax.h"
#include "platform/richtext/rich_text_editor.h"
#include "richtext_fixtures.h"

namespace veltrane::richtext {
namespace {

using testing::numberedLines;
using testing::Para;
using testing::rtfOf;

class RenderFax : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    folder_ = dir_.path().toStdString() + "/";
  }

  FaxRenderer makeRenderer() {
    return FaxRenderer({folder_, 96, nullptr},
                       {[this](bool busy) { busyCalls_.push_back(busy); },
                        [this](const QString& s) { statuses_ << s; },
                        [this](const QString& m) { messages_ << m; }});
  }

  QStringList files() const { return QDir(dir_.path()).entryList(QDir::Files, QDir::Name); }

  int apfPageCount(const QString& path) {
    imaging::ApfFileHeader h;
    EXPECT_EQ(imaging::ReadFaxHeader(path.toStdString(), h), 0);
    return h.PageCount;
  }

  imaging::MonoBitmap decodePage(const QString& path, unsigned page) {
    std::unique_ptr<imaging::UnpackerState> state;
    EXPECT_EQ(imaging::CreateUnpacker(state, nullptr, nullptr), 0);
    int width = 0, height = 0;
    imaging::MonoBitmap bitmap;
    EXPECT_EQ(imaging::DecodePageToBitmap(*state, path.toStdString(), page, false, width, height, bitmap), 0);
    return bitmap;
  }

  void touch(const std::string& name) { QFile(QString::fromStdString(folder_ + name)).open(QIODevice::WriteOnly); }

  QTemporaryDir dir_;
  std::string folder_;
  std::vector<bool> busyCalls_;
  QStringList statuses_, messages_;
};

QByteArray threePageDocument() {
  return rtfOf({{"Document page one"}, {"Page two", true}, {"more"}, {"Page three", true}});
}

TEST_F(RenderFax, CoverAndThreePageDocumentGiveOneFourPageFileAndNothingElse) {
  FaxRenderer renderer = makeRenderer();
  QString path = renderer.CreateFaxFile(rtfOf({{"Cover"}}), threePageDocument());
  EXPECT_EQ(path.toStdString(), folder_ + "VLN_1.APF");
  EXPECT_EQ(renderer.PageCountOfLastFaxFile, 4);
  EXPECT_EQ(apfPageCount(path), 4);
  EXPECT_EQ(files(), QStringList{"VLN_1.APF"});
  EXPECT_EQ(busyCalls_, (std::vector<bool>{true, false}));
  EXPECT_TRUE(statuses_.contains("Creating fax file........"));
  EXPECT_EQ(statuses_.last(), QString());
  EXPECT_TRUE(messages_.isEmpty());

  // Every page is a full fax page with its corner pixel set, cover first.
  std::vector<int> inkRows;
  for (unsigned page = 1; page <= 4; ++page) {
    imaging::MonoBitmap bitmap = decodePage(path, page);
    ASSERT_EQ(bitmap.height, kFaxPageHeight) << "page " << page;
    // The converter puts the bitmap 50 pixels from the left edge of the line.
    EXPECT_TRUE(bitmap.Pixel(50 + kFaxPageWidth - 1, kFaxPageHeight - 1)) << "page " << page;
    int firstInk = -1;
    for (int y = 0; y < bitmap.height - 1 && firstInk < 0; ++y) {
      for (int x = 0; x < bitmap.width && firstInk < 0; ++x) {
        if (bitmap.Pixel(x, y)) firstInk = y;
      }
    }
    inkRows.push_back(firstInk);
  }
  for (int row : inkRows) EXPECT_NEAR(row, 110, 15);  // every page's text starts at its top
}

TEST_F(RenderFax, EmptyOrBlankCoverGivesNoCoverPage) {
  static const struct {
    const char* name;
    QByteArray cover;
  } kCases[] = {
      {"no cover", QByteArray()},
      {"empty RTF", rtfOf({})},
      {"spaces and empty lines", rtfOf({{"   "}, {""}, {"          "}, {""}})},
  };
  for (const auto& c : kCases) {
    for (const QString& f : files()) QFile::remove(dir_.path() + "/" + f);
    FaxRenderer renderer = makeRenderer();
    QString path = renderer.CreateFaxFile(c.cover, rtfOf({{"Only the document"}}));
    EXPECT_EQ(path.toStdString(), folder_ + "VLN_1.APF") << c.name;
    EXPECT_EQ(renderer.PageCountOfLastFaxFile, 1) << c.name;
  }
}

TEST_F(RenderFax, NothingToSendShowsMessageAndMakesNoFile) {
  FaxRenderer renderer = makeRenderer();
  renderer.PageCountOfLastFaxFile = 7;
  EXPECT_TRUE(renderer.CreateFaxFile(rtfOf({{"  "}}), QByteArray()).isEmpty());
  EXPECT_EQ(messages_, QStringList{"Fax has no contents or cover sheet"});
  EXPECT_EQ(renderer.PageCountOfLastFaxFile, 7);
  EXPECT_TRUE(files().isEmpty());
  EXPECT_EQ(busyCalls_, (std::vector<bool>{true, false}));
  EXPECT_EQ(statuses_, (QStringList{"Creating fax file", ""}));
}

TEST_F(RenderFax, BlankLookingTextOf256CharactersStillCounts) {
  QTextDocument doc;
  LoadMemo(rtfOf({{std::string(300, ' ')}}), doc);
  EXPECT_FALSE(IsRichTextEmpty(doc));
  LoadMemo(rtfOf({{std::string(200, ' ')}, {"\t"}}), doc);
  EXPECT_FALSE(IsRichTextEmpty(doc));  // a tab is not a space
  LoadMemo(rtfOf({{std::string(250, ' ')}}), doc);
  EXPECT_TRUE(IsRichTextEmpty(doc));
}

TEST_F(RenderFax, PartsFromEditorsNumberPagesOverTheWholeFax) {
  RichTextEditor cover, doc;
  cover.loadRichText(rtfOf({{"Cover"}}));
  doc.loadRichText(rtfOf({{"One"}, {"Two", true}}));
  std::vector<std::string> pages;
  RenderPart(cover, pages, {folder_, 120, nullptr});
  RenderPart(doc, pages, {folder_, 120, nullptr});
  EXPECT_EQ(cover.zooming(), 166);
  EXPECT_EQ(pages, (std::vector<std::string>{folder_ + "VLN_1.APF", folder_ + "VLNAX2.APF",
                                             folder_ + "VLNAX3.APF"}));
  EXPECT_EQ(JoinFaxFiles(pages), folder_ + "VLN_1.APF");
  EXPECT_EQ(apfPageCount(QString::fromStdString(pages[0])), 3);
  EXPECT_EQ(files(), QStringList{"VLN_1.APF"});
}

TEST_F(RenderFax, FileNamesMoveOnPastExistingFaxFiles) {
  touch("VLN_1.APF");
  EXPECT_EQ(UniqueFaxFileName(folder_), folder_ + "VLN_2.APF");
  FaxRenderer renderer = makeRenderer();
  QString path = renderer.CreateFaxFile(rtfOf({{"Cover"}}), rtfOf({{"Doc"}}));
  EXPECT_EQ(path.toStdString(), folder_ + "VLN_2.APF");
  EXPECT_EQ(files(), (QStringList{"VLN_1.APF", "VLN_2.APF"}));

  for (int n = 1; n <= 1000; ++n) touch("VLN_" + std::to_string(n) + ".APF");
  EXPECT_EQ(UniqueFaxFileName(folder_), folder_ + "VLN1.APF");
}

TEST_F(RenderFax, FailuresEndRenderingAndRestoreTheWindow) {
  FaxRenderer renderer = makeRenderer();
  EXPECT_THROW(renderer.CreateFaxFile(QByteArray("{\\rtf1") + QByteArray(1000, '{'), rtfOf({{"x"}})),
               std::runtime_error);
  EXPECT_EQ(busyCalls_, (std::vector<bool>{true, false}));
  EXPECT_EQ(statuses_.last(), QString());

  // A page file that vanished before the join is a file-not-found error.
  std::vector<std::string> pages;
  QTextDocument doc;
  LoadMemo(rtfOf({{"a"}, {"b", true}}), doc);
  RenderPart(doc, pages, {folder_, 96, nullptr});
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1], folder_ + "VLNAX2.APF");
  QFile::remove(QString::fromStdString(pages[1]));
  EXPECT_THROW(JoinFaxFiles(pages), imaging::EInOutError);

  // A data folder that cannot be written to.
  FaxRenderer nowhere({folder_ + "missing/", 96, nullptr}, {});
  EXPECT_THROW(nowhere.CreateFaxFile(rtfOf({{"x"}}), QByteArray()), imaging::EFaxException);
}

}  // namespace
}  // namespace veltrane::richtext
