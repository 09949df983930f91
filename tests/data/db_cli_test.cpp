// Runs the veltrane-fax db sub-commands in a temporary data folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct CommandResult {
  int status;
  std::string out;
  std::string err;
};

class DbCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vln-dbcli-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string data() const { return (dir_ / "data").string(); }

  CommandResult db(const std::string& words) const {
    const fs::path out = dir_ / "out.txt", err = dir_ / "err.txt";
    const std::string command = std::string(VELTRANE_FAX_EXE) + " db " + words + " >" + out.string() +
                                " 2>" + err.string();
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }
  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // The record lines of a listing: "RECNO<TAB>first field".
  static std::vector<std::string> rows(const std::string& listing) {
    std::vector<std::string> lines;
    std::istringstream in(listing);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      const auto second = line.find('\t', line.find('\t') + 1);
      lines.push_back(line.substr(0, second));
    }
    return lines;
  }

  fs::path dir_;
};

}  // namespace

TEST_F(DbCliTest, InitAddListDeletePackCheck) {
  CommandResult r = db("init " + data());
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* f : {"VLN.DBF", "VLN.CDX", "VLNREC.DBF", "VLNREC.CDX", "VLNCOV.DBF", "VLNPB.DBF", "VLNPB.CDX"})
    EXPECT_TRUE(fs::exists(data() + "/" + f)) << f;

  for (const char* name : {"Miller", "Adams", "Zeta"}) {
    r = db("add " + data() + " phone NAME=" + name + " PHONE=555");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(r.out, "3\n");
  r = db("list " + data() + " VLNPB.DBF");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "RECNO\tNAME\tPHONE");
  EXPECT_EQ(rows(r.out), (std::vector<std::string>{"2\tAdams", "1\tMiller", "3\tZeta"}));
  r = db("list " + data() + " phone --natural");
  EXPECT_EQ(rows(r.out), (std::vector<std::string>{"1\tMiller", "2\tAdams", "3\tZeta"}));

  ASSERT_EQ(db("delete " + data() + " phone 1").status, 0);
  EXPECT_EQ(rows(db("list " + data() + " phone").out), (std::vector<std::string>{"2\tAdams", "3\tZeta"}));
  EXPECT_EQ(rows(db("list " + data() + " phone --deleted").out),
            (std::vector<std::string>{"1*\tMiller", "2\tAdams", "3\tZeta"}));
  EXPECT_NE(db("set " + data() + " phone 1 NAME=Back").status, 0) << "a deleted record is not shown";

  r = db("pack " + data());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Removing PHONE file records marked for deletion\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Rebuilding COVER file indexes\n"), std::string::npos) << r.out;
  EXPECT_EQ(rows(db("list " + data() + " phone --deleted").out),
            (std::vector<std::string>{"1\tAdams", "2\tZeta"}));

  r = db("check " + data());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(DbCliTest, ValuesAreCheckedBeforeAnythingIsWritten) {
  ASSERT_EQ(db("init " + data()).status, 0);
  struct Case {
    const char* assignment;
    bool accepted;
  };
  static const Case kCases[] = {
      {"DATESENT=20240229", true},   {"DATESENT=20230229", false}, {"DATESENT=2024-01-01", false},
      {"SENT=T", true},              {"SENT=yes", false},          {"PAGES=12", true},
      {"PAGES=123", false},          {"PAGES=1x", false},          {"NOSUCH=1", false},
      {"TIMESENT=12:30", true},      {"TIMESENT=12:30:00", false}, {"SUBJECT", false},
  };
  int appended = 0;
  for (const Case& c : kCases) {
    const CommandResult r = db("add " + data() + " sent " + c.assignment);
    EXPECT_EQ(r.status == 0, c.accepted) << c.assignment << ": " << r.err;
    if (r.status == 0) ++appended;
  }
  EXPECT_EQ(rows(db("list " + data() + " sent --natural").out).size(), static_cast<std::size_t>(appended));
  EXPECT_EQ(db("set " + data() + " sent 1 PAGES=7 LASTRESULT=OK").status, 0);
  EXPECT_NE(db("list " + data() + " sent --natural").out.find("\t7\tOK\t"), std::string::npos);
  EXPECT_EQ(db("list " + data() + " nosuchtable").status, 2);
  EXPECT_EQ(db("set " + data() + " sent 0 PAGES=1").status, 2);
}

TEST_F(DbCliTest, MemoSetAndPrint) {
  ASSERT_EQ(db("init " + data()).status, 0);
  ASSERT_EQ(db("add " + data() + " cover DESCRIPT=Plain").status, 0);
  const std::string rtf = "{\\rtf1\\ansi Hello\\par}\n";
  std::ofstream(dir_ / "cover.rtf", std::ios::binary) << rtf;
  CommandResult r = db("memo " + data() + " cover 1 COVER --set " + (dir_ / "cover.rtf").string());
  ASSERT_EQ(r.status, 0) << r.err;
  r = db("memo " + data() + " cover 1 cover");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, rtf);
  EXPECT_NE(db("memo " + data() + " cover 1 DESCRIPT").status, 0);
  EXPECT_NE(db("memo " + data() + " cover 1 COVER --set " + (dir_ / "missing.rtf").string()).status, 0);
}

TEST_F(DbCliTest, CheckReportsDamageWithoutRepairingIt) {
  struct Case {
    const char* what;
    const char* file;
    std::streamoff offset;
    std::string bytes;
  };
  const Case kCases[] = {
      {"more records claimed than the file holds", "VLNPB.DBF", 4, std::string("\x00\x00\x10\x00", 4)},
      {"index pages overwritten", "VLNPB.CDX", 1024, std::string(1024, '\xEE')},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(data());
    ASSERT_EQ(db("init " + data()).status, 0);
    ASSERT_EQ(db("add " + data() + " phone NAME=Adams").status, 0);
    ASSERT_EQ(db("add " + data() + " phone NAME=Baker").status, 0);
    const std::string path = data() + "/" + c.file;
    {
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(c.offset);
      f.write(c.bytes.data(), static_cast<std::streamsize>(c.bytes.size()));
    }
    const std::string damaged = slurp(path);
    const CommandResult r = db("check " + data());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("VLNPB.DBF: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("VLN.DBF: OK"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(path), damaged) << "check must not repair";
  }
}
