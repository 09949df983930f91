// Other tools read what we write: Debian's python3-dbfread and python3-dbf
// read every field and memo of tables made by the engine. Skipped when
// /usr/bin/python3 lacks either module.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "platform/xbase/support/xbase_test_util.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {
namespace {

using testing::ScratchDir;

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

struct Written {
  bool deleted = false;
  std::map<std::string, std::string> fields;  // text forms, memos as they are
};

std::string TableJson(const std::vector<FieldDef>& defs, const std::vector<Written>& records) {
  std::string out = "{\"types\": {";
  for (size_t i = 0; i < defs.size(); ++i) {
    out += (i ? ", " : "") + Json(defs[i].name) + ": " + Json(std::string(1, defs[i].type));
  }
  out += "}, \"records\": [";
  for (size_t r = 0; r < records.size(); ++r) {
    out += r ? ",\n" : "\n";
    out += "{\"deleted\": " + std::string(records[r].deleted ? "true" : "false") + ", \"fields\": {";
    bool first = true;
    for (const auto& [name, value] : records[r].fields) {
      out += (first ? "" : ", ") + Json(name) + ": " + Json(value);
      first = false;
    }
    out += "}}";
  }
  return out + "]}";
}

std::string Rtf(int n, int length) {
  std::string text = "{\\rtf1\\ansi " + std::to_string(n) + " ";
  while (int(text.size()) < length) text += "text \"quoted\" \\par\r\n";
  return text + "}";
}

std::vector<Written> WriteLogTable(const std::string& path) {
  EXPECT_TRUE(Table::Create(path, testing::LogFields()).ok());
  Table t;
  EXPECT_TRUE(t.Open(path, {{testing::LogTag()}, SyncMode::kOnClose}).ok());
  std::vector<Written> written;
  for (int n = 1; n <= 150; ++n) {
    Written w;
    EXPECT_TRUE(t.Append().ok());
    w.fields["SUBJECT"] = "Subject " + std::to_string(n) + (n % 7 == 0 ? " & Sons' {x}" : "");
    w.fields["SENT"] = n % 3 == 0 ? "T" : n % 3 == 1 ? "F" : "";
    w.fields["DATESENT"] = n % 4 == 0 ? "" : "2024" + std::string(n % 12 < 9 ? "0" : "") +
                                               std::to_string(n % 12 + 1) + "1" + std::to_string(n % 9);
    w.fields["TIMESENT"] = n % 4 == 0 ? "" : "1" + std::to_string(n % 10) + ":3" + std::to_string(n % 6);
    w.fields["PAGES"] = n % 5 == 0 ? "" : std::to_string(n % 100);
    for (const char* f : {"SUBJECT", "SENT", "DATESENT", "TIMESENT", "PAGES"}) {
      EXPECT_TRUE(t.SetText(f, w.fields[f]).ok()) << f << "=" << w.fields[f];
    }
    w.fields["RTFCOVER"] = n % 2 ? Rtf(n, n * 7 % 300) : "";
    w.fields["RTFDOC"] = Rtf(n, 40 + n * 13 % 900);
    EXPECT_TRUE(t.WriteMemo("RTFCOVER", w.fields["RTFCOVER"]).ok());
    EXPECT_TRUE(t.WriteMemo("RTFDOC", "first draft").ok());
    EXPECT_TRUE(t.Post().ok());
    EXPECT_TRUE(t.WriteMemo("RTFDOC", w.fields["RTFDOC"]).ok());  // replaced after posting
    if (n % 10 == 0) {
      EXPECT_TRUE(t.Delete().ok());
      w.deleted = true;
    }
    written.push_back(w);
  }
  return written;
}

std::vector<Written> WritePhoneTable(const std::string& path) {
  EXPECT_TRUE(Table::Create(path, testing::PhoneFields()).ok());
  Table t;
  EXPECT_TRUE(t.Open(path, {{testing::PhoneTag()}, SyncMode::kOnClose}).ok());
  std::vector<Written> written;
  for (int n = 1; n <= 60; ++n) {
    Written w;
    w.fields["NAME"] = "NAME " + std::to_string(n * 7919 % 1000);
    w.fields["PHONE"] = "+1 555 " + std::to_string(1000 + n);
    EXPECT_TRUE(t.Append().ok());
    EXPECT_TRUE(t.SetText("NAME", w.fields["NAME"]).ok());
    EXPECT_TRUE(t.SetText("PHONE", w.fields["PHONE"]).ok());
    EXPECT_TRUE(t.Post().ok());
    written.push_back(w);
  }
  return written;
}

TEST(PythonReaders, ReadEveryFieldAndMemoWeWrote) {
  if (std::system("/usr/bin/python3 -c 'import dbf, dbfread' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3-dbf or python3-dbfread missing from /usr/bin/python3";
  }
  ScratchDir dir;
  auto log = WriteLogTable(dir / "VLN.DBF");
  auto phone = WritePhoneTable(dir / "VLNPB.DBF");
  auto read_back = [&] {
    {
      std::ofstream out(dir / "expected.json");
      out << "{\"VLN.DBF\": " << TableJson(testing::LogFields(), log)
          << ",\n\"VLNPB.DBF\": " << TableJson(testing::PhoneFields(), phone) << "}\n";
    }
    const std::string command = "/usr/bin/python3 " + std::string(VELTRANE_TEST_DATA) +
                                "/xbase/read_tables.py " + dir.path() + " " +
                                (dir / "expected.json") + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string output;
    char buf[512];
    while (pipe != nullptr && std::fgets(buf, sizeof buf, pipe) != nullptr) output += buf;
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("2 tables compared, 0 differences"), std::string::npos) << output;
  };
  read_back();
  // A packed table is a new pair of files: they must read the same, less the deleted records.
  {
    Table t;
    ASSERT_TRUE(t.Open(dir / "VLN.DBF").ok());
    ASSERT_TRUE(t.Pack().ok());
  }
  std::erase_if(log, [](const Written& w) { return w.deleted; });
  read_back();
}

}  // namespace
}  // namespace veltrane::xbase
