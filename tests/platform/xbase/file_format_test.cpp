// Files we write, byte by byte: the points other xBase tools depend on.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/xbase/support/xbase_test_util.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {
namespace {

using testing::ReadBytes;
using testing::SamplesDir;
using testing::ScratchDir;

uint32_t Le16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// Copies every record of a sample table (values, deletion marks, memos) into
// a new table of ours with the same fields, then makes the same tag.
void Replicate(const std::string& sample, const std::string& copy) {
  Table from;
  ASSERT_TRUE(from.Open(sample).ok());
  ASSERT_TRUE(Table::Create(copy, from.Fields()).ok());
  Table to;
  ASSERT_TRUE(to.Open(copy).ok());
  for (uint32_t r = 1; r <= from.PhysicalCount(); ++r) {
    ASSERT_TRUE(from.Go(r).ok());
    ASSERT_TRUE(to.Append().ok());
    for (const FieldDef& f : from.Fields()) {
      if (f.type == 'M') {
        ASSERT_TRUE(to.WriteMemo(f.name, from.ReadMemo(f.name).value()).ok());
      } else {
        ASSERT_TRUE(to.SetText(f.name, from.GetText(f.name).value()).ok()) << f.name;
      }
    }
    ASSERT_TRUE(to.Post().ok());
    if (from.Deleted()) ASSERT_TRUE(to.Delete().ok());
  }
  ASSERT_TRUE(to.CreateTag(from.Tags().at(0)).ok());
}

// The other engine's index and ours for the same records must agree byte for
// byte, apart from its private header bytes 16..23 (which we leave zero).
TEST(FileFormat, IndexBytesEqualTheOtherEnginesForTheSameRecords) {
  ScratchDir dir;
  for (const char* base : {"VLN", "VLNREC", "VLNCOV", "VLNPB"}) {
    SCOPED_TRACE(base);
    const std::string sample = SamplesDir() + "/three-records/" + base;
    Replicate(sample + ".DBF", dir / (std::string(base) + ".DBF"));
    std::vector<uint8_t> theirs = ReadBytes(sample + ".CDX");
    std::vector<uint8_t> ours = ReadBytes(dir / (std::string(base) + ".CDX"));
    ASSERT_EQ(ours.size(), theirs.size());
    for (size_t header : {0x000, 0x600}) std::memset(theirs.data() + header + 16, 0, 8);
    for (size_t i = 0; i < ours.size(); ++i) {
      ASSERT_EQ(ours[i], theirs[i]) << "first difference at offset " << i;
    }
    // Same records, same bytes: only the header differs (length, date, code page).
    std::vector<uint8_t> their_dbf = ReadBytes(sample + ".DBF");
    std::vector<uint8_t> our_dbf = ReadBytes(dir / (std::string(base) + ".DBF"));
    const size_t their_start = Le16(their_dbf, 8);
    const size_t our_start = Le16(our_dbf, 8);
    if (std::string(base) == "VLNREC" || std::string(base) == "VLNPB") {  // no memo numbers inside
      EXPECT_TRUE(std::equal(our_dbf.begin() + long(our_start), our_dbf.end(),
                             their_dbf.begin() + long(their_start), their_dbf.end()));
    }
  }
}

TEST(FileFormat, TableHeaderFollowsTheFoxProLayout) {
  ScratchDir dir;
  const std::string path = dir / "VLN.DBF";
  ASSERT_TRUE(Table::Create(path, testing::LogFields()).ok());
  {
    Table t;
    ASSERT_TRUE(t.Open(path).ok());
    ASSERT_TRUE(t.CreateTag(testing::LogTag()).ok());
    ASSERT_TRUE(t.Append().ok());
    ASSERT_TRUE(t.SetText("SUBJECT", "Hello").ok());
    ASSERT_TRUE(t.Post().ok());
  }
  const std::vector<uint8_t> b = ReadBytes(path);
  const std::vector<FieldDef> defs = testing::LogFields();
  const size_t fields = defs.size();
  EXPECT_EQ(b[0], 0xF5);  // has memo fields
  EXPECT_GE(b[2], 1);
  EXPECT_LE(b[2], 12);
  EXPECT_EQ(Le32(b, 4), 1u);
  EXPECT_EQ(Le16(b, 8), 32 + 32 * fields + 1);
  EXPECT_EQ(Le16(b, 10), 1u + 50 + 1 + 8 + 5 + 2 + 10 + 10);
  EXPECT_EQ(b[28], 0x01);  // structural index present
  EXPECT_EQ(b[29], 0x03);
  for (size_t i : {12, 13, 14, 15, 30, 31}) EXPECT_EQ(b[i], 0) << i;
  uint32_t offset = 1;
  for (size_t f = 0; f < fields; ++f) {
    const FieldDef& def = defs[f];
    const uint8_t* d = b.data() + 32 + 32 * f;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d)), def.name);
    for (size_t k = def.name.size(); k < 11; ++k) EXPECT_EQ(d[k], 0);
    EXPECT_EQ(d[11], uint8_t(def.type));
    EXPECT_EQ(Le32(b, 32 + 32 * f + 12), offset);
    EXPECT_EQ(d[16], def.width);
    EXPECT_EQ(d[17], 0);
    offset += uint32_t(def.width);
  }
  EXPECT_EQ(b[32 + 32 * fields], 0x0D);
  EXPECT_EQ(b.size(), Le16(b, 8) + Le16(b, 10) + 1u);
  EXPECT_EQ(b.back(), 0x1A);
  const size_t rec = Le16(b, 8);
  EXPECT_EQ(b[rec], ' ');
  EXPECT_EQ(b[rec + 51], ' ') << "an unset logical stays blank";
  EXPECT_EQ(std::string(b.begin() + long(rec) + 52, b.begin() + long(rec) + 60), "        ");
  EXPECT_EQ(std::string(b.begin() + long(rec) + 65, b.begin() + long(rec) + 67), "  ")
      << "an unset number stays blank, not 0";

  std::vector<uint8_t> plain;
  ASSERT_TRUE(Table::Create(dir / "VLNPB.DBF", testing::PhoneFields()).ok());
  plain = ReadBytes(dir / "VLNPB.DBF");
  EXPECT_EQ(plain[0], 0x03);
  EXPECT_FALSE(testing::ReadBytes(dir / "VLNPB.FPT").size() > 0);
}

TEST(FileFormat, MemoBlocksAreBigEndianAndNeverOverwritten) {
  ScratchDir dir;
  const std::string path = dir / "VLNCOV.DBF";
  ASSERT_TRUE(Table::Create(path, {{"DESCRIPT", 'C', 35, 0}, {"COVER", 'M', 10, 0}}).ok());
  const std::string first(100, 'a');
  {
    Table t;
    ASSERT_TRUE(t.Open(path).ok());
    ASSERT_TRUE(t.Append().ok());
    ASSERT_TRUE(t.WriteMemo("COVER", first).ok());
    ASSERT_TRUE(t.Post().ok());
    ASSERT_TRUE(t.WriteMemo("COVER", "second").ok());  // replaced in browse state
    EXPECT_EQ(t.ReadMemo("COVER").value(), "second");
  }
  const std::vector<uint8_t> fpt = ReadBytes(dir / "VLNCOV.FPT");
  const std::vector<uint8_t> dbf = ReadBytes(path);
  EXPECT_EQ(fpt[4], 0);
  EXPECT_EQ(fpt[5], 0);
  EXPECT_EQ(fpt[6] << 8 | fpt[7], 64);
  // First memo at block 8 (byte 512): type 1, length, then the text.
  EXPECT_EQ(Be32(fpt, 512), 1u);
  EXPECT_EQ(Be32(fpt, 516), 100u);
  EXPECT_EQ(fpt[520], 'a');
  // The replacement went to the end (block 8 + ceil(108/64) = 10); the old text is intact.
  const size_t rec = Le16(dbf, 8);
  EXPECT_EQ(std::string(dbf.begin() + long(rec) + 36, dbf.begin() + long(rec) + 46), "        10");
  EXPECT_EQ(Be32(fpt, 640 + 4), 6u);
  EXPECT_EQ(Be32(fpt, 0), 11u) << "next free block lies beyond every used block";
  EXPECT_GE(fpt.size(), 11u * 64);
}

TEST(FileFormat, EmptyTagHasARootLeafDescribingItsBitWidths) {
  ScratchDir dir;
  const std::string path = dir / "VLNPB.DBF";
  ASSERT_TRUE(Table::Create(path, testing::PhoneFields()).ok());
  {
    Table t;
    ASSERT_TRUE(t.Open(path).ok());
    ASSERT_TRUE(t.CreateTag(testing::PhoneTag()).ok());
  }
  const std::vector<uint8_t> cdx = ReadBytes(dir / "VLNPB.CDX");
  ASSERT_EQ(cdx.size(), 3072u);
  const uint32_t header = Le32(cdx, 0x400 + 24) & 0xFFFF;  // tag-of-tags entry -> tag header
  EXPECT_EQ(header, 0x600u);
  const uint32_t root = Le32(cdx, header);
  const std::vector<uint8_t> expected = {0x03, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xE8, 0x01, 0xFF, 0x0F,
                                         0x00, 0x00, 0x3F, 0x3F, 0x0C, 0x06, 0x06, 0x03};
  EXPECT_EQ(std::vector<uint8_t>(cdx.begin() + root, cdx.begin() + root + 24), expected);
  EXPECT_EQ(cdx[header + 14], 0x68);
  EXPECT_EQ(cdx[0x00E], 0xE0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cdx.data() + header + 512)), "NAME");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cdx.data() + header + 512 + 5)), ".not. deleted()");
}

}  // namespace
}  // namespace veltrane::xbase
