// The table API as the program uses it: exclusive use, the view's rules
// (order, filter, counts, current record), typed fields, memos to and from
// files, index upkeep switches, progress reports and pack recovery.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/xbase/support/xbase_test_util.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;
using testing::ViewOrder;
using testing::WriteBytes;

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Table::Create(log_, testing::LogFields()).ok());
    ASSERT_TRUE(table_.Open(log_, {{testing::LogTag()}, SyncMode::kNever}).ok());
  }

  void AddLog(const char* subject, const char* date, const char* time) {
    ASSERT_TRUE(table_.Append().ok());
    ASSERT_TRUE(table_.SetText("SUBJECT", subject).ok());
    ASSERT_TRUE(table_.SetText("DATESENT", date).ok());
    ASSERT_TRUE(table_.SetText("TIMESENT", time).ok());
    ASSERT_TRUE(table_.Post().ok());
  }

  std::vector<std::string> Subjects() {
    std::vector<std::string> out;
    for (uint32_t r : ViewOrder(table_)) {
      table_.Go(r);
      out.push_back(table_.GetText("SUBJECT").value());
    }
    return out;
  }

  ScratchDir dir_;
  std::string log_ = dir_ / "VLN.DBF";
  Table table_;
};

TEST_F(TableTest, SecondOpenerIsRefusedInThisAndAnotherProcess) {
  Table second;
  Status s = second.Open(log_);
  EXPECT_EQ(s.code(), kLocked);
  EXPECT_NE(s.message().find("in use"), std::string::npos);
  const pid_t pid = fork();
  if (pid == 0) {
    Table other;
    _exit(other.Open(log_).code() == kLocked ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process got in";
  ASSERT_TRUE(table_.Close().ok());
  EXPECT_TRUE(second.Open(log_).ok());
}

TEST_F(TableTest, NewestFirstWithNeverSentLastAndDeletedNeverShown) {
  AddLog("never sent", "", "");
  AddLog("morning", "20240315", "09:30");
  AddLog("afternoon", "20240315", "14:05");
  AddLog("last year", "20231231", "23:59");
  AddLog("also never sent", "", "");
  ASSERT_TRUE(table_.SetOrder("DATESENT").ok());
  ASSERT_TRUE(table_.SetFilter(".not. deleted()").ok());
  EXPECT_EQ(table_.ActiveOrder(), 1);
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"afternoon", "morning", "last year",
                                                  "also never sent", "never sent"}));
  ASSERT_TRUE(table_.Go(2).ok());
  ASSERT_TRUE(table_.Delete().ok());
  EXPECT_EQ(table_.GetText("SUBJECT").value(), "last year") << "the view moves to the next record";
  EXPECT_EQ(table_.FilteredCount(), 4u);
  EXPECT_EQ(table_.PhysicalCount(), 5u);
  EXPECT_EQ(table_.Go(2).code(), kNotFound);
  ASSERT_TRUE(table_.SetOrder(0).ok());  // natural order, still filtered
  EXPECT_EQ(ViewOrder(table_), (std::vector<uint32_t>{1, 3, 4, 5}));
  ASSERT_TRUE(table_.SetFilter("").ok());
  EXPECT_EQ(ViewOrder(table_), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
  table_.SetSkipDeleted(true);  // the engine-wide switch hides them too
  EXPECT_EQ(ViewOrder(table_), (std::vector<uint32_t>{1, 3, 4, 5}));
  EXPECT_EQ(table_.FilteredCount(), 4u);
}

TEST_F(TableTest, CurrentRecordIsCountPlusOneWhenThereIsNone) {
  EXPECT_EQ(table_.RecNo(), 1u);
  EXPECT_FALSE(table_.HasCurrent());
  EXPECT_EQ(table_.Edit().code(), kNoRecord);
  EXPECT_EQ(table_.Delete().code(), kNoRecord);
  AddLog("only", "20240101", "10:00");
  ASSERT_TRUE(table_.SetFilter(".not. deleted()").ok());
  EXPECT_EQ(table_.RecNo(), 1u);
  ASSERT_TRUE(table_.Append().ok());
  EXPECT_EQ(table_.RecNo(), 2u) << "an unposted new record is not current";
  table_.Cancel();
  EXPECT_EQ(table_.PhysicalCount(), 1u) << "a cancelled append leaves nothing";
  ASSERT_TRUE(table_.First().ok());
  ASSERT_TRUE(table_.Delete().ok());
  EXPECT_EQ(table_.FilteredCount(), 0u);
  EXPECT_EQ(table_.RecNo(), 2u);
  EXPECT_TRUE(table_.Eof());
}

TEST_F(TableTest, TypedFieldsRefuseWhatDoesNotFit) {
  struct Case {
    const char* field;
    const char* text;
    int code;
  };
  const Case kCases[] = {
      {"PAGES", "99", kOk},          {"PAGES", "100", kInvalidArgument},
      {"PAGES", "x1", kInvalidArgument}, {"PAGES", "", kOk},
      {"DATESENT", "20240229", kOk}, {"DATESENT", "20230229", kInvalidArgument},
      {"DATESENT", "2024-01-01", kInvalidArgument}, {"SENT", "T", kOk},
      {"SENT", "maybe", kInvalidArgument}, {"RTFDOC", "text", kInvalidArgument},
      {"NOSUCH", "1", kNotFound},
  };
  EXPECT_EQ(table_.SetText("SUBJECT", "x").code(), kWrongState) << "no edit without Append or Edit";
  ASSERT_TRUE(table_.Append().ok());
  for (const Case& c : kCases) {
    EXPECT_EQ(table_.SetText(c.field, c.text).code(), c.code) << c.field << "=" << c.text;
  }
  EXPECT_EQ(table_.SetInteger("PAGES", 100).code(), kInvalidArgument) << "never stored as **";
  EXPECT_TRUE(table_.SetInteger("PAGES", 7).ok());
  EXPECT_TRUE(table_.SetLogical("SENT", true).ok());
  EXPECT_TRUE(table_.SetDate("DATESENT", Date{2024, 3, 15}).ok());
  EXPECT_EQ(table_.SetDate("DATESENT", Date{2024, 2, 30}).code(), kInvalidArgument);
  EXPECT_TRUE(table_.SetText("SUBJECT", std::string(60, 'S')).ok());
  EXPECT_EQ(table_.GetLogical("SUBJECT").status().code(), kInvalidArgument);
  ASSERT_TRUE(table_.Post().ok());
  EXPECT_EQ(table_.GetInteger("PAGES").value(), 7);
  EXPECT_TRUE(table_.GetLogical("SENT").value());
  EXPECT_EQ(table_.GetDate("DATESENT").value(), (Date{2024, 3, 15}));
  EXPECT_EQ(table_.GetText("SUBJECT").value(), std::string(50, 'S')) << "cut to the width";
  ASSERT_TRUE(table_.Edit().ok());
  ASSERT_TRUE(table_.SetBlank("PAGES").ok());
  ASSERT_TRUE(table_.SetText("DATESENT", "").ok());
  ASSERT_TRUE(table_.Post().ok());
  EXPECT_TRUE(table_.IsBlank("PAGES").value());
  EXPECT_EQ(table_.GetInteger("PAGES").value(), 0);
  EXPECT_TRUE(table_.GetDate("DATESENT").value().blank());
}

TEST_F(TableTest, MemoToAndFromFiles) {
  AddLog("with memos", "", "");
  const std::string scratch = dir_ / "Eraseme.rtf";
  EXPECT_FALSE(table_.CopyMemoToFile("RTFDOC", scratch).value()) << "nothing to copy";
  EXPECT_FALSE(std::ifstream(scratch).good());
  const std::string rtf = "{\\rtf1\\ansi body\r\n\\par }";
  WriteBytes(scratch, std::vector<uint8_t>(rtf.begin(), rtf.end()));
  ASSERT_TRUE(table_.LoadMemoFromFile("RTFDOC", scratch).ok());
  std::remove(scratch.c_str());
  EXPECT_TRUE(table_.CopyMemoToFile("RTFDOC", scratch).value());
  const auto copied = ReadBytes(scratch);
  EXPECT_EQ(std::string(copied.begin(), copied.end()), rtf);
  // In edit state the memo belongs to the edit: cancelling keeps the old one.
  ASSERT_TRUE(table_.Edit().ok());
  ASSERT_TRUE(table_.WriteMemo("RTFDOC", "discarded").ok());
  EXPECT_EQ(table_.ReadMemo("RTFDOC").value(), "discarded");
  table_.Cancel();
  EXPECT_EQ(table_.ReadMemo("RTFDOC").value(), rtf);
  ASSERT_TRUE(table_.WriteMemo("RTFDOC", "").ok());
  EXPECT_FALSE(table_.CopyMemoToFile("RTFDOC", scratch).value());
}

TEST_F(TableTest, ClosedIndexIsRebuiltWhenTheTableChangedMeanwhile) {
  AddLog("a", "20240101", "10:00");
  ASSERT_TRUE(table_.CloseIndexes().ok());
  EXPECT_EQ(table_.ActiveOrder(), 0);
  EXPECT_TRUE(table_.Tags().empty());
  AddLog("b", "20240102", "10:00");  // not in the index file
  ASSERT_TRUE(table_.Close().ok());
  ASSERT_TRUE(table_.Open(log_, {{testing::LogTag()}, SyncMode::kNever}).ok());
  EXPECT_TRUE(table_.IndexWasRebuiltOnOpen());
  ASSERT_TRUE(table_.SetOrder("DATESENT").ok());
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"b", "a"}));
}

TEST_F(TableTest, MissingIndexIsMadeAgainWithTheSameTag) {
  AddLog("a", "20240101", "10:00");
  ASSERT_TRUE(table_.Close().ok());
  std::remove((dir_ / "VLN.CDX").c_str());
  {
    Table plain;  // without the expected tags it stays without index, and says so in the header
    ASSERT_TRUE(plain.Open(log_).ok());
    EXPECT_EQ(plain.TagNumber("DATESENT"), 0);
  }
  EXPECT_EQ(ReadBytes(log_)[28], 0x00);
  ASSERT_TRUE(table_.Open(log_, {{testing::LogTag()}, SyncMode::kNever}).ok());
  EXPECT_TRUE(table_.IndexWasRebuiltOnOpen());
  ASSERT_EQ(table_.Tags().size(), 1u);
  const TagSpec tag = table_.Tags()[0];
  EXPECT_EQ(tag.name, "DATESENT");
  EXPECT_EQ(tag.key_expression, "DTOS(DATESENT)+TIMESENT");
  EXPECT_EQ(tag.for_expression, ".not. deleted()");
  EXPECT_TRUE(tag.descending);
  EXPECT_EQ(ReadBytes(log_)[28], 0x01);
}

TEST_F(TableTest, OnlyTheExpressionsTheTablesUseAreAccepted) {
  const TagSpec kBad[] = {
      {"T1", "UPPER(SUBJECT)", "", false, false}, {"T2", "SUBJECT+PAGES", "", false, false},
      {"T3", "DTOS(SUBJECT)", "", false, false},  {"T4", "NOSUCH", "", false, false},
      {"T5", "DATESENT", "", false, false},       {"T6", "SUBJECT", "deleted()", false, false},
      {"T7", "SUBJECT", ".not. deleted()", false, true},
      {"BAD NAME", "SUBJECT", "", false, false},
  };
  for (const TagSpec& spec : kBad) {
    Status s = table_.CreateTag(spec);
    EXPECT_FALSE(s.ok()) << spec.key_expression;
    EXPECT_FALSE(s.message().empty());
  }
  EXPECT_EQ(table_.SetFilter("SENT").code(), kBadExpression);
  EXPECT_TRUE(table_.SetFilter(".NOT. DELETED()").ok());
  EXPECT_TRUE(table_.CreateTag({"SUBJ", "subject", "", false, false}).ok());
  EXPECT_EQ(table_.TagNumber("subj"), 2);
  EXPECT_EQ(table_.ActiveOrder(), 2);
}

TEST_F(TableTest, PackAndIndexCreationReportProgressUpTo100) {
  for (int i = 0; i < 3000; ++i) AddLog(("s" + std::to_string(i)).c_str(), "20240101", "10:00");
  std::vector<int> reports;
  table_.SetProgressHandler([&](int percent) { reports.push_back(percent); });
  ASSERT_TRUE(table_.CreateTag(testing::LogTag()).ok());
  ASSERT_GT(reports.size(), 2u);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(reports.back(), 100);
  reports.clear();
  ASSERT_TRUE(table_.Go(5).ok());
  ASSERT_TRUE(table_.Delete().ok());
  ASSERT_TRUE(table_.Pack().ok());
  EXPECT_GT(reports.size(), 2u);
  EXPECT_EQ(reports.back(), 100);
  EXPECT_EQ(table_.PhysicalCount(), 2999u);
  table_.SetProgressHandler({});
}

// Leaf entries grow from 3 to 4 bytes once record numbers pass 4095 (35-byte
// keys); leaves that change size must still be split and written correctly.
TEST(LargeTable, RecordNumbersBeyondThreeByteLeafEntries) {
  ScratchDir dir;
  const std::string path = dir / "VLNPB.DBF";
  ASSERT_TRUE(Table::Create(path, testing::PhoneFields()).ok());
  std::vector<std::pair<std::string, uint32_t>> expected;
  {
    Table t;
    ASSERT_TRUE(t.Open(path, {{testing::PhoneTag()}, SyncMode::kNever}).ok());
    for (uint32_t r = 1; r <= 5000; ++r) {
      const std::string name = "N" + std::to_string(r * 7919 % 5003);
      ASSERT_TRUE(t.Append().ok());
      ASSERT_TRUE(t.SetText("NAME", name).ok());
      ASSERT_TRUE(t.Post().ok());
      expected.emplace_back(name + std::string(35 - name.size(), ' '), r);
    }
  }
  std::sort(expected.begin(), expected.end());
  Table t;
  ASSERT_TRUE(t.Open(path, {{testing::PhoneTag()}}).ok());
  EXPECT_FALSE(t.IndexWasRebuiltOnOpen());
  ASSERT_TRUE(t.SetOrder("NAME").ok());
  std::vector<uint32_t> want;
  for (const auto& e : expected) want.push_back(e.second);
  EXPECT_EQ(ViewOrder(t), want);
}

// A pack cut short leaves temporary or backup files; the next open finishes
// or undoes it so that the table and memo file always belong together.
TEST(PackRecovery, InterruptedSwapIsUndoneAndFinishedSwapIsKept) {
  ScratchDir dir;
  const std::string dbf = dir / "VLNCOV.DBF";
  const std::string fpt = dir / "VLNCOV.FPT";
  ASSERT_TRUE(Table::Create(dbf, {{"DESCRIPT", 'C', 35, 0}, {"COVER", 'M', 10, 0}}).ok());
  {
    Table t;
    ASSERT_TRUE(t.Open(dbf).ok());
    ASSERT_TRUE(t.Append().ok());
    ASSERT_TRUE(t.SetText("DESCRIPT", "old").ok());
    ASSERT_TRUE(t.WriteMemo("COVER", "old memo").ok());
    ASSERT_TRUE(t.Post().ok());
  }
  const auto old_dbf = ReadBytes(dbf);
  const auto old_fpt = ReadBytes(fpt);
  auto description = [&] {
    Table t;
    EXPECT_TRUE(t.Open(dbf).ok());
    std::string text = t.GetText("DESCRIPT").value() + "/" + t.ReadMemo("COVER").value();
    EXPECT_TRUE(t.Close().ok());
    for (const char* leftover : {".DBF.NEW", ".FPT.NEW", ".DBF.OLD", ".FPT.OLD"}) {
      EXPECT_FALSE(std::ifstream(dir / (std::string("VLNCOV") + leftover)).good()) << leftover;
    }
    return text;
  };
  // The new table is in place, its memo file still under the temporary name.
  WriteBytes(dbf + ".OLD", old_dbf);
  WriteBytes(fpt + ".OLD", old_fpt);
  WriteBytes(dbf, std::vector<uint8_t>(10, 'x'));
  WriteBytes(fpt + ".NEW", std::vector<uint8_t>(10, 'y'));
  std::remove(fpt.c_str());
  EXPECT_EQ(description(), "old/old memo");
  // Only the temporaries were written: they go.
  WriteBytes(dbf + ".NEW", std::vector<uint8_t>(10, 'x'));
  EXPECT_EQ(description(), "old/old memo");
  // Both new files are in place, the backups are left: the new pair stays.
  WriteBytes(dbf + ".OLD", std::vector<uint8_t>(10, 'x'));
  WriteBytes(fpt + ".OLD", std::vector<uint8_t>(10, 'y'));
  EXPECT_EQ(description(), "old/old memo");
}

}  // namespace
}  // namespace veltrane::xbase
