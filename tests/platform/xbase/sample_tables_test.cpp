// Tables written by another xBase engine: we read every record, memo and tag
// order exactly as that engine's listing shows them, and keep appending to
// them without disturbing what was there.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "platform/xbase/table.h"
#include "platform/xbase/support/xbase_test_util.h"

namespace veltrane::xbase {
namespace {

using testing::CopyFile;
using testing::SamplesDir;
using testing::ScratchDir;
using testing::ViewOrder;

struct ListedField {
  std::string name;
  char type;
  std::string value;  // C/L/D/N: text between the brackets
  size_t memo_length = 0;
  uint32_t memo_crc = 0;
};

struct ListedRecord {
  uint32_t recno;
  bool deleted;
  std::vector<ListedField> fields;
};

struct ListedTable {
  std::string name;
  std::vector<ListedRecord> records;
  std::string tag;
  std::vector<uint32_t> tag_order;
};

std::vector<ListedTable> ParseListing(const std::string& path) {
  std::ifstream in(path);
  std::vector<ListedTable> tables;
  std::string line;
  const std::regex table_re(R"(^table (\S+))");
  const std::regex rec_re(R"(^    rec (\d+) del=(.))");
  const std::regex field_re(R"(^      (\w+)\s+([CLDN]) \[(.*)\]$)");
  const std::regex memo_re(R"(^      (\w+)\s+M len=(\d+)(?: crc32=([0-9A-F]+))?)");
  const std::regex tag_re(R"(^    tag (\w+))");
  const std::regex order_re(R"(^        (\d+) \[)");
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, table_re)) {
      tables.push_back({m[1], {}, {}, {}});
    } else if (std::regex_search(line, m, rec_re)) {
      tables.back().records.push_back({uint32_t(std::stoul(m[1])), m[2] == "*", {}});
    } else if (std::regex_search(line, m, field_re)) {
      tables.back().records.back().fields.push_back({m[1], m[2].str()[0], m[3], 0, 0});
    } else if (std::regex_search(line, m, memo_re)) {
      ListedField f{m[1], 'M', "", std::stoul(m[2]), 0};
      if (m[3].matched) f.memo_crc = uint32_t(std::stoul(m[3], nullptr, 16));
      tables.back().records.back().fields.push_back(f);
    } else if (std::regex_search(line, m, tag_re)) {
      tables.back().tag = m[1];
    } else if (std::regex_search(line, m, order_re)) {
      tables.back().tag_order.push_back(uint32_t(std::stoul(m[1])));
    }
  }
  return tables;
}

uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// The listing shows stored bytes; GetText gives the text forms.
std::string ExpectedText(const ListedField& f) {
  std::string v = f.value;
  while (!v.empty() && v.back() == ' ') v.pop_back();
  if (f.type == 'N') v.erase(0, v.find_first_not_of(' ') == std::string::npos ? v.size() : v.find_first_not_of(' '));
  return v;
}

class SampleTables : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    for (const char* ext : {"DBF", "FPT", "CDX"}) {
      for (const char* base : {"VLN", "VLNREC", "VLNCOV", "VLNPB"}) {
        std::string from = SamplesDir() + "/" + GetParam() + "/" + base + "." + ext;
        if (std::ifstream(from).good()) CopyFile(from, dir_ / (std::string(base) + "." + ext));
      }
    }
    listing_ = ParseListing(SamplesDir() + "/" + GetParam() + ".txt");
  }
  ScratchDir dir_;
  std::vector<ListedTable> listing_;
};

TEST_P(SampleTables, ReadsRecordsMemosAndTagOrdersAsListed) {
  ASSERT_EQ(listing_.size(), 4u);
  for (const ListedTable& listed : listing_) {
    SCOPED_TRACE(listed.name);
    const std::vector<std::string> problems = Table::Check(dir_ / listed.name);
    EXPECT_TRUE(problems.empty()) << problems.front();
    Table table;
    ASSERT_TRUE(table.Open(dir_ / listed.name).ok());
    EXPECT_FALSE(table.IndexWasRebuiltOnOpen()) << "the other engine's index must pass our checks";
    EXPECT_EQ(table.PhysicalCount(), listed.records.size());
    for (const ListedRecord& rec : listed.records) {
      ASSERT_TRUE(table.Go(rec.recno).ok());
      EXPECT_EQ(table.Deleted(), rec.deleted) << "record " << rec.recno;
      for (const ListedField& f : rec.fields) {
        if (f.type == 'M') {
          auto memo = table.ReadMemo(f.name);
          ASSERT_TRUE(memo.ok()) << memo.status().message();
          EXPECT_EQ(memo.value().size(), f.memo_length) << f.name << " of " << rec.recno;
          if (f.memo_length > 0) EXPECT_EQ(Crc32(memo.value()), f.memo_crc);
        } else {
          auto text = table.GetText(f.name);
          ASSERT_TRUE(text.ok());
          EXPECT_EQ(text.value(), ExpectedText(f)) << f.name << " of " << rec.recno;
        }
      }
    }
    ASSERT_TRUE(table.SetOrder(listed.tag).ok());
    ASSERT_TRUE(table.SetFilter(".not. deleted()").ok());
    EXPECT_EQ(ViewOrder(table), listed.tag_order);
    EXPECT_EQ(table.FilteredCount(), listed.tag_order.size());
  }
}

TEST_P(SampleTables, KeepsAppendingToTheirIndexes) {
  const std::string path = dir_ / "VLNPB.DBF";
  std::vector<uint32_t> expected;
  for (const ListedTable& t : listing_) {
    if (t.name == "VLNPB.DBF") expected = t.tag_order;
  }
  {
    Table table;
    ASSERT_TRUE(table.Open(path).ok());
    ASSERT_TRUE(table.SetOrder("NAME").ok());
    const uint32_t first_new = table.PhysicalCount() + 1;
    // Before everything, after everything, and equal to an existing name.
    for (const char* name : {"AARDVARK CO", "ZZ TOP", "BAKER LTD"}) {
      ASSERT_TRUE(table.Append().ok());
      ASSERT_TRUE(table.SetText("NAME", name).ok());
      ASSERT_TRUE(table.SetText("PHONE", "555").ok());
      ASSERT_TRUE(table.Post().ok());
    }
    expected.insert(expected.begin(), first_new);
    expected.push_back(first_new + 1);
    auto baker = std::find(expected.begin(), expected.end(), 2u);
    expected.insert(baker + 1, first_new + 2);  // equal keys: record number ascending
    ASSERT_TRUE(table.SetFilter(".not. deleted()").ok());
    EXPECT_EQ(ViewOrder(table), expected);
  }
  Table reopened;
  ASSERT_TRUE(reopened.Open(path).ok());
  EXPECT_FALSE(reopened.IndexWasRebuiltOnOpen());
  ASSERT_TRUE(reopened.SetOrder("NAME").ok());
  reopened.First();
  EXPECT_EQ(reopened.GetText("NAME").value(), "AARDVARK CO");
  reopened.Last();
  EXPECT_EQ(reopened.GetText("NAME").value(), "ZZ TOP");
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleTables, ::testing::Values("three-records", "phonebook-400"),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
}  // namespace veltrane::xbase
