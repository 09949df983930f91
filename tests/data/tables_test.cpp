#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "data/rebuild.h"
#include "data/tables.h"

namespace fs = std::filesystem;
using namespace veltrane::data;
using veltrane::xbase::Date;
using veltrane::xbase::FieldDef;
using veltrane::xbase::Table;

namespace {

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vln-tables-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    folder_ = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }
  bool exists(const std::string& name) const { return fs::exists(folder_ + name); }

  fs::path dir_;
  std::string folder_;
};

struct SentFax {
  const char* subject;
  Date date;
  const char* time;
};

void appendSent(Table& t, const SentFax& fax) {
  ASSERT_TRUE(t.Append().ok());
  ASSERT_TRUE(t.SetText("SUBJECT", fax.subject).ok());
  if (!fax.date.blank()) {
    ASSERT_TRUE(t.SetDate("DATESENT", fax.date).ok());
    ASSERT_TRUE(t.SetLogical("SENT", true).ok());
  }
  ASSERT_TRUE(t.SetText("TIMESENT", fax.time).ok());
  ASSERT_TRUE(t.Post().ok());
}

void appendText(Table& t, const char* field, const std::string& value) {
  ASSERT_TRUE(t.Append().ok());
  ASSERT_TRUE(t.SetText(field, value).ok());
  ASSERT_TRUE(t.Post().ok());
}

std::vector<std::string> column(Table& t, const char* field) {
  std::vector<std::string> values;
  for (auto st = t.First(); st.ok() && t.HasCurrent() && !t.Eof(); st = t.Next())
    values.push_back(t.GetText(field).value());
  return values;
}

bool markDeleted(Table& t, const char* field, const std::string& value) {
  for (auto st = t.First(); st.ok() && t.HasCurrent() && !t.Eof(); st = t.Next())
    if (t.GetText(field).value() == value) return t.Delete().ok();
  return false;
}

}  // namespace

TEST_F(TablesTest, CreatedTablesHaveTheirFieldsAndTheirTag) {
  struct Expected {
    FaxTable table;
    std::vector<FieldDef> fields;
    const char* tag;
    const char* key;
    bool descending;
  };
  const Expected kTables[] = {
      {FaxTable::Sent,
       {{"SUBJECT", 'C', 50, 0}, {"SENT", 'L', 1, 0}, {"DATESENT", 'D', 8, 0}, {"TIMESENT", 'C', 5, 0},
        {"RECIPIENT", 'C', 35, 0}, {"PHONE", 'C', 25, 0}, {"PAGES", 'N', 2, 0},
        {"LASTRESULT", 'C', 100, 0}, {"RTFCOVER", 'M', 10, 0}, {"RTFDOC", 'M', 10, 0}},
       "DATESENT", "DTOS(DATESENT)+TIMESENT", true},
      {FaxTable::Received,
       {{"DATEREC", 'D', 8, 0}, {"TIMEREC", 'C', 5, 0}, {"FROM", 'C', 20, 0}, {"PAGES", 'N', 2, 0},
        {"FAXFILE", 'C', 12, 0}, {"NOTES", 'C', 60, 0}},
       "DATETIME", "DTOS(DATEREC)+TIMEREC", true},
      {FaxTable::Cover, {{"DESCRIPT", 'C', 35, 0}, {"COVER", 'M', 10, 0}}, "DESCRIPT", "DESCRIPT", false},
      {FaxTable::Phone, {{"NAME", 'C', 35, 0}, {"PHONE", 'C', 25, 0}}, "NAME", "NAME", false},
  };
  for (const Expected& e : kTables) {
    const TableSchema& schema = SchemaOf(e.table);
    SCOPED_TRACE(schema.fileName);
    ASSERT_TRUE(MakeTable(e.table, folder_));
    EXPECT_FALSE(exists(schema.indexFileName)) << "the create operation makes no index";
    Table t;
    ASSERT_TRUE(OpenTable(e.table, t, folder_));
    ASSERT_EQ(t.Fields().size(), e.fields.size());
    for (std::size_t i = 0; i < e.fields.size(); ++i) {
      EXPECT_EQ(t.Fields()[i].name, e.fields[i].name);
      EXPECT_EQ(t.Fields()[i].type, e.fields[i].type);
      EXPECT_EQ(t.Fields()[i].width, e.fields[i].width);
    }
    EXPECT_TRUE(exists(schema.indexFileName));
    const auto tags = t.Tags();
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].name, e.tag);
    EXPECT_EQ(tags[0].key_expression, e.key);
    EXPECT_EQ(tags[0].for_expression, ".not. deleted()");
    EXPECT_EQ(tags[0].descending, e.descending);
    EXPECT_EQ(t.Filter(), ".not. deleted()");
  }
  EXPECT_EQ(FindSchema("vlnpb"), &SchemaOf(FaxTable::Phone));
  EXPECT_EQ(FindSchema("VLNREC.DBF"), &SchemaOf(FaxTable::Received));
  EXPECT_EQ(FindSchema("cover"), &SchemaOf(FaxTable::Cover));
  EXPECT_EQ(FindSchema("VLN.CDX"), nullptr);
}

TEST_F(TablesTest, OpenCreatesWhatIsMissingAndSetsTheOrderPerTable) {
  Table sent, received, cover, phone;
  ASSERT_TRUE(OpenFaxDBF(sent, folder_));
  ASSERT_TRUE(OpenRecFaxDBF(received, folder_));
  ASSERT_TRUE(OpenCoverDBF(cover, folder_));
  ASSERT_TRUE(OpenPhoneDBF(phone, folder_));
  for (const char* f : {"VLN.DBF", "VLN.FPT", "VLN.CDX", "VLNREC.DBF", "VLNREC.CDX", "VLNCOV.DBF",
                        "VLNCOV.FPT", "VLNCOV.CDX", "VLNPB.DBF", "VLNPB.CDX"})
    EXPECT_TRUE(exists(f)) << f;
  // The log tables get their order later from the main window; the other two
  // are opened on their tag.
  EXPECT_EQ(sent.ActiveOrder(), 0);
  EXPECT_EQ(received.ActiveOrder(), 0);
  EXPECT_EQ(cover.ActiveOrder(), cover.TagNumber("DESCRIPT"));
  EXPECT_EQ(phone.ActiveOrder(), phone.TagNumber("NAME"));
  EXPECT_GT(phone.ActiveOrder(), 0);

  // A second opener is refused while the first holds the table.
  Table again;
  std::string error;
  EXPECT_FALSE(OpenPhoneDBF(again, folder_, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(TablesTest, MissingIndexIsRebuiltWithTheSameTagOnOpen) {
  {
    Table phone;
    ASSERT_TRUE(OpenPhoneDBF(phone, folder_));
    for (const char* name : {"Miller", "Adams", "Zeta"}) appendText(phone, "NAME", name);
  }
  fs::remove(folder_ + "VLNPB.CDX");
  Table phone;
  ASSERT_TRUE(OpenPhoneDBF(phone, folder_));
  ASSERT_TRUE(exists("VLNPB.CDX"));
  const auto tags = phone.Tags();
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0].key_expression, "NAME");
  EXPECT_FALSE(tags[0].descending);
  EXPECT_EQ(column(phone, "NAME"), (std::vector<std::string>{"Adams", "Miller", "Zeta"}));
}

TEST_F(TablesTest, SentOrderNewestFirstNeverSentLastAndDeletedHidden) {
  Table sent;
  ASSERT_TRUE(OpenFaxDBF(sent, folder_));
  appendSent(sent, {"never sent", {}, ""});
  appendSent(sent, {"morning", {2024, 3, 5}, "09:15"});
  appendSent(sent, {"older", {2023, 12, 31}, "23:59"});
  appendSent(sent, {"afternoon", {2024, 3, 5}, "14:02"});
  appendSent(sent, {"gone", {2024, 3, 6}, "08:00"});
  ASSERT_TRUE(sent.SetOrder(std::string_view("DATESENT")).ok());
  ASSERT_TRUE(markDeleted(sent, "SUBJECT", "gone"));
  EXPECT_EQ(sent.FilteredCount(), 4u);
  EXPECT_EQ(sent.PhysicalCount(), 5u);
  EXPECT_EQ(column(sent, "SUBJECT"),
            (std::vector<std::string>{"afternoon", "morning", "older", "never sent"}));
}

TEST_F(TablesTest, UnreadableTableMakesOpenFail) {
  std::ofstream(folder_ + "VLNPB.DBF", std::ios::binary) << "this is not a table";
  Table phone;
  std::string error;
  EXPECT_FALSE(OpenPhoneDBF(phone, folder_, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(phone.IsOpen());
}

TEST_F(TablesTest, RebuildPacksEveryTableInOrderWithItsStepTexts) {
  Table sent, received, phone, cover;
  ASSERT_TRUE(OpenFaxDBF(sent, folder_));
  ASSERT_TRUE(OpenRecFaxDBF(received, folder_));
  appendSent(sent, {"keep old", {2024, 1, 2}, "10:00"});
  appendSent(sent, {"drop", {2024, 1, 3}, "10:00"});
  appendSent(sent, {"unsent", {}, ""});
  appendSent(sent, {"keep new", {2024, 2, 1}, "08:30"});
  ASSERT_TRUE(sent.SetOrder(std::string_view("DATESENT")).ok());
  ASSERT_TRUE(markDeleted(sent, "SUBJECT", "drop"));
  const auto orderBefore = column(sent, "SUBJECT");
  appendText(received, "NOTES", "one");
  ASSERT_TRUE(markDeleted(received, "NOTES", "one"));
  // VLNPB.DBF and VLNCOV.DBF do not exist yet: the rebuild creates them.

  std::vector<std::string> steps;
  std::vector<int> reports;
  RebuildCallbacks callbacks;
  callbacks.onStep = [&](const std::string& text) {
    steps.push_back(text);
    reports.push_back(-1);  // marks where a step began
  };
  callbacks.onProgress = [&](int percent) { reports.push_back(percent); };
  ASSERT_TRUE(RebuildIndexes(sent, received, phone, cover, callbacks, folder_).ok());

  EXPECT_EQ(steps, (std::vector<std::string>{
                       "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes", "",
                       "Removing Received FAX records marked for deletion", "Rebuilding Received FAX indexes",
                       "Removing PHONE file records marked for deletion", "Rebuilding PHONE file indexes",
                       "Removing COVER file records marked for deletion", "Rebuilding COVER file indexes"}));
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_GE(reports[i], -1);
    EXPECT_LE(reports[i], 100);
  }
  // Every pack starts its gauge at 0 right after its step text.
  EXPECT_EQ(reports[1], 0);

  EXPECT_EQ(sent.PhysicalCount(), 3u);
  EXPECT_EQ(received.PhysicalCount(), 0u);
  EXPECT_EQ(sent.ActiveOrder(), sent.TagNumber("DATESENT"));
  EXPECT_EQ(received.ActiveOrder(), received.TagNumber("DATETIME"));
  EXPECT_GT(received.ActiveOrder(), 0);
  EXPECT_EQ(column(sent, "SUBJECT"), (std::vector<std::string>{"keep new", "keep old", "unsent"}));
  EXPECT_EQ(orderBefore, (std::vector<std::string>{"keep new", "keep old", "unsent"}));
  EXPECT_FALSE(phone.IsOpen());
  EXPECT_FALSE(cover.IsOpen());
  for (const char* f : {"VLN.CDX", "VLNREC.CDX", "VLNPB.DBF", "VLNPB.CDX", "VLNCOV.DBF", "VLNCOV.CDX"})
    EXPECT_TRUE(exists(f)) << f;
  ASSERT_TRUE(sent.Close().ok());
  Table reopened;
  ASSERT_TRUE(OpenFaxDBF(reopened, folder_));
  EXPECT_FALSE(reopened.IndexWasRebuiltOnOpen());
  ASSERT_EQ(reopened.Tags().size(), 1u);
  EXPECT_TRUE(reopened.Tags()[0].descending);
}

TEST_F(TablesTest, RebuildSkipsAPhoneBookThatWillNotOpen) {
  Table sent, received, phone, cover;
  ASSERT_TRUE(OpenFaxDBF(sent, folder_));
  ASSERT_TRUE(OpenRecFaxDBF(received, folder_));
  std::ofstream(folder_ + "VLNPB.DBF", std::ios::binary) << "damaged beyond reading";
  std::vector<std::string> steps;
  RebuildCallbacks callbacks;
  callbacks.onStep = [&](const std::string& text) { steps.push_back(text); };
  ASSERT_TRUE(RebuildIndexes(sent, received, phone, cover, callbacks, folder_).ok());
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[5], "Removing COVER file records marked for deletion");
  EXPECT_FALSE(exists("VLNPB.CDX"));
  std::ifstream in(folder_ + "VLNPB.DBF", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "damaged beyond reading");
}

TEST_F(TablesTest, RebuildStopsAtTheFirstErrorKeepingWhatIsDone) {
  Table sent, received, phone, cover;
  ASSERT_TRUE(OpenFaxDBF(sent, folder_));
  appendSent(sent, {"drop", {2024, 1, 3}, "10:00"});
  appendSent(sent, {"keep", {2024, 1, 4}, "10:00"});
  ASSERT_TRUE(markDeleted(sent, "SUBJECT", "drop"));
  // The received-fax table was never opened: its step fails.
  std::vector<std::string> steps;
  RebuildCallbacks callbacks;
  callbacks.onStep = [&](const std::string& text) { steps.push_back(text); };
  EXPECT_FALSE(RebuildIndexes(sent, received, phone, cover, callbacks, folder_).ok());
  EXPECT_EQ(steps.size(), 3u) << "nothing after the failing table";
  EXPECT_EQ(sent.PhysicalCount(), 1u);
  EXPECT_TRUE(exists("VLN.CDX"));
  EXPECT_FALSE(exists("VLNPB.DBF"));
  EXPECT_FALSE(exists("VLNCOV.DBF"));
}
