// Damaged and hostile files: a damaged table or memo file gives a clear
// error (never a crash), a damaged or stale index is rebuilt on open, and
// Check names the damage without changing anything.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/xbase/support/xbase_test_util.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;
using testing::ViewOrder;
using testing::WriteBytes;

// A phone book of 300 names (every seventh deleted): a NAME tag of several levels.
void MakePhoneBook(const std::string& path) {
  ASSERT_TRUE(Table::Create(path, testing::PhoneFields()).ok());
  Table t;
  ASSERT_TRUE(t.Open(path, {{testing::PhoneTag()}, SyncMode::kNever}).ok());
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(t.Append().ok());
    ASSERT_TRUE(t.SetText("NAME", "PERSON " + std::to_string(i * 7919 % 1000) + " LONGER NAME").ok());
    ASSERT_TRUE(t.Post().ok());
    if (i % 7 == 0) ASSERT_TRUE(t.Delete().ok());
  }
}

void MakeCovers(const std::string& path) {
  ASSERT_TRUE(Table::Create(path, {{"DESCRIPT", 'C', 35, 0}, {"COVER", 'M', 10, 0}}).ok());
  Table t;
  ASSERT_TRUE(t.Open(path, {{}, SyncMode::kNever}).ok());
  for (const char* text : {"first memo", "second memo"}) {
    ASSERT_TRUE(t.Append().ok());
    ASSERT_TRUE(t.SetText("DESCRIPT", text).ok());
    ASSERT_TRUE(t.WriteMemo("COVER", text).ok());
    ASSERT_TRUE(t.Post().ok());
  }
}

void PutLe16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  PutLe16(b, at, v & 0xFFFF);
  PutLe16(b, at + 2, v >> 16);
}
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

struct Damage {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> apply;
};

TEST(DamagedTable, GivesAClearErrorAndCheckReportsIt) {
  const Damage kCases[] = {
      {"cut to 40 bytes", [](auto& b) { b.resize(40); }},
      {"dBASE III memo version", [](auto& b) { b[0] = 0x83; }},
      {"header length past the end", [](auto& b) { PutLe16(b, 8, 60000); }},
      {"header length too small", [](auto& b) { PutLe16(b, 8, 40); }},
      {"record length disagrees", [](auto& b) { PutLe16(b, 10, 62); }},
      {"field width 0", [](auto& b) { b[32 + 16] = 0; }},
      {"unknown field type", [](auto& b) { b[32 + 11] = 'X'; }},
      {"field name not padded", [](auto& b) { std::memset(b.data() + 32, 'A', 11); }},
      {"same field twice", [](auto& b) { std::memcpy(b.data() + 64, "NAME\0", 6); }},
      {"no terminator", [](auto& b) { b[96] = 'Z'; }},
  };
  for (const Damage& d : kCases) {
    SCOPED_TRACE(d.name);
    ScratchDir dir;
    const std::string path = dir / "VLNPB.DBF";
    MakePhoneBook(path);
    std::vector<uint8_t> bytes = ReadBytes(path);
    d.apply(bytes);
    WriteBytes(path, bytes);
    Table t;
    Status s = t.Open(path);
    EXPECT_EQ(s.code(), kCorrupt) << s.message();
    EXPECT_NE(s.message().find("damaged table"), std::string::npos) << s.message();
    EXPECT_FALSE(t.IsOpen());
    EXPECT_FALSE(Table::Check(path).empty());
  }
}

TEST(DamagedTable, CutShortKeepsTheWholeRecordsThatRemain) {
  ScratchDir dir;
  const std::string path = dir / "VLNPB.DBF";
  MakePhoneBook(path);
  std::vector<uint8_t> bytes = ReadBytes(path);
  bytes.resize(bytes.size() - 100);  // the last record and a half are gone
  WriteBytes(path, bytes);
  EXPECT_FALSE(Table::Check(path).empty());
  Table t;
  ASSERT_TRUE(t.Open(path, {{testing::PhoneTag()}}).ok());
  EXPECT_EQ(t.PhysicalCount(), 298u);
  EXPECT_TRUE(t.IndexWasRebuiltOnOpen()) << "the index held keys of the lost records";
  ASSERT_TRUE(t.Append().ok());
  ASSERT_TRUE(t.SetText("NAME", "AFTER THE CUT").ok());
  ASSERT_TRUE(t.Post().ok());
  EXPECT_EQ(t.RecNo(), 299u);
}

TEST(DamagedMemoFile, GivesErrorsNotCrashes) {
  ScratchDir dir;
  const std::string path = dir / "VLNCOV.DBF";
  MakeCovers(path);
  const std::string fpt = dir / "VLNCOV.FPT";
  const std::vector<uint8_t> good = ReadBytes(fpt);
  {  // the memo file is missing, or its header is damaged: the table does not open
    for (const Damage& d : std::initializer_list<Damage>{
             {"missing", [](auto& b) { b.clear(); }},
             {"block size 0", [](auto& b) { b[6] = b[7] = 0; }},
             {"unknown header", [](auto& b) { b[4] = 1; }}}) {
      SCOPED_TRACE(d.name);
      std::vector<uint8_t> bytes = good;
      d.apply(bytes);
      if (bytes.empty()) {
        std::remove(fpt.c_str());
      } else {
        WriteBytes(fpt, bytes);
      }
      Table t;
      EXPECT_FALSE(t.Open(path).ok());
    }
  }
  {  // a block pointing past the end, or a length past the end: that memo reads as an error
    std::vector<uint8_t> bytes = good;
    bytes[512 + 7] = 0xFF;  // first memo's length
    bytes.resize(bytes.size() - 10);
    WriteBytes(fpt, bytes);
    Table t;
    ASSERT_TRUE(t.Open(path).ok());
    ASSERT_TRUE(t.Go(1).ok());
    EXPECT_EQ(t.ReadMemo("COVER").status().code(), kCorrupt);
    EXPECT_FALSE(Table::Check(path).empty());
  }
}

// A damaged header must not make new memos land past the end of the file
// (or inside existing ones).
TEST(DamagedMemoFile, NextFreeBlockIsTakenFromTheFileSize) {
  ScratchDir dir;
  const std::string path = dir / "VLNCOV.DBF";
  MakeCovers(path);
  const std::string fpt = dir / "VLNCOV.FPT";
  for (uint32_t next_free : {0u, 8u, 0x5E000037u}) {
    std::vector<uint8_t> bytes = ReadBytes(fpt);
    const size_t size = bytes.size();
    bytes[0] = uint8_t(next_free >> 24);
    bytes[1] = uint8_t(next_free >> 16);
    bytes[2] = uint8_t(next_free >> 8);
    bytes[3] = uint8_t(next_free);
    WriteBytes(fpt, bytes);
    Table t;
    ASSERT_TRUE(t.Open(path).ok());
    ASSERT_TRUE(t.Go(2).ok());
    ASSERT_TRUE(t.WriteMemo("COVER", "replacement").ok());
    ASSERT_TRUE(t.Go(1).ok());
    EXPECT_EQ(t.ReadMemo("COVER").value(), "first memo");
    EXPECT_EQ(ReadBytes(fpt).size(), size + 64) << "one block appended at the end";
  }
}

TEST(DamagedIndex, IsRebuiltOnOpen) {
  const Damage kCases[] = {
      {"cut to 1000 bytes", [](auto& b) { b.resize(1000); }},
      {"empty file", [](auto& b) { b.clear(); }},
      {"tag-of-tags root outside", [](auto& b) { PutLe32(b, 0, 0x7FFFFE00); }},
      {"tag root at offset 0", [](auto& b) { PutLe32(b, 0x600, 0); }},
      {"tag root not page aligned", [](auto& b) { PutLe32(b, 0x600, 0xA01); }},
      {"key length 0", [](auto& b) { PutLe16(b, 0x600 + 12, 0); }},
      {"root points at its own header", [](auto& b) { PutLe32(b, 0x600, 0x600); }},
      {"leaf chain loops back to itself", [](auto& b) {
         for (size_t p = 0xA00; p + 512 <= b.size(); p += 512) {
           if (b[p] == 2) return PutLe32(b, p + 8, uint32_t(p));
         }
       }},
      {"a leaf emptied", [](auto& b) {
         for (size_t p = 0xA00; p + 512 <= b.size(); p += 512) {
           if (b[p] == 2) return PutLe16(b, p + 2, 0);
         }
       }},
      {"huge key count in a node", [](auto& b) { PutLe16(b, Le32(b, 0x600) + 2, 0xFFFF); }},
      {"bit widths that do not add up", [](auto& b) {
         for (size_t p = 0xC00; p + 512 <= b.size(); p += 512) {
           if (b[p] == 2) b[p + 20] = 3;
         }
       }},
      {"two keys swapped", [](auto& b) {
         for (size_t p = 0xC00; p + 512 <= b.size(); p += 512) {
           if (b[p] == 2) std::swap(b[p + 24], b[p + 27]);
         }
       }},
      {"wrong key expression", [](auto& b) { std::memcpy(b.data() + 0x800, "PHONE", 6); }},
      {"descending flag flipped", [](auto& b) { b[0x600 + 502] = 1; }},
  };
  for (const Damage& d : kCases) {
    SCOPED_TRACE(d.name);
    ScratchDir dir;
    const std::string path = dir / "VLNPB.DBF";
    MakePhoneBook(path);
    std::vector<uint32_t> expected;
    {
      Table t;
      ASSERT_TRUE(t.Open(path).ok());
      ASSERT_TRUE(t.SetOrder("NAME").ok());
      expected = ViewOrder(t);
      ASSERT_EQ(expected.size(), 300u - 43u);
    }
    std::vector<uint8_t> bytes = ReadBytes(dir / "VLNPB.CDX");
    d.apply(bytes);
    WriteBytes(dir / "VLNPB.CDX", bytes);
    EXPECT_FALSE(Table::Check(path, {testing::PhoneTag()}).empty());
    Table t;
    ASSERT_TRUE(t.Open(path, {{testing::PhoneTag()}}).ok());
    EXPECT_TRUE(t.IndexWasRebuiltOnOpen());
    ASSERT_TRUE(t.SetOrder("NAME").ok());
    EXPECT_EQ(ViewOrder(t), expected);
    ASSERT_TRUE(t.Close().ok());
    EXPECT_TRUE(Table::Check(path).empty());
  }
}

// A record changed behind the index's back (a crash between the two writes).
TEST(DamagedIndex, StaleKeyIsDetectedAndRebuilt) {
  ScratchDir dir;
  const std::string path = dir / "VLNPB.DBF";
  MakePhoneBook(path);
  std::vector<uint8_t> bytes = ReadBytes(path);
  const size_t first = bytes[8] | bytes[9] << 8;
  std::memcpy(bytes.data() + first + 1 + 61, "AAAA", 4);  // record 2's NAME
  WriteBytes(path, bytes);
  Table t;
  ASSERT_TRUE(t.Open(path, {{testing::PhoneTag()}}).ok());
  EXPECT_TRUE(t.IndexWasRebuiltOnOpen());
  ASSERT_TRUE(t.SetOrder("NAME").ok());
  t.First();
  EXPECT_EQ(t.RecNo(), 2u);
}

TEST(DamagedIndex, WithoutExpectedTagsTheFileTagsAreRebuilt) {
  ScratchDir dir;
  const std::string path = dir / "VLNPB.DBF";
  MakePhoneBook(path);
  std::vector<uint8_t> bytes = ReadBytes(dir / "VLNPB.CDX");
  PutLe16(bytes, Le32(bytes, 0x600) + 2, 0xFFFF);  // the tree is damaged, the header is not
  WriteBytes(dir / "VLNPB.CDX", bytes);
  Table t;
  ASSERT_TRUE(t.Open(path).ok());
  EXPECT_TRUE(t.IndexWasRebuiltOnOpen());
  EXPECT_EQ(t.TagNumber("NAME"), 1);
}

}  // namespace
}  // namespace veltrane::xbase
