#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "data/data_folder.h"
#include "data/ini_file.h"
#include "data/settings.h"

namespace fs = std::filesystem;
using namespace veltrane::data;

namespace {

class TempFolder {
 public:
  TempFolder() {
    path_ = fs::temp_directory_path() / ("vln-settings-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(counter_++));
    fs::create_directories(path_);
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
  static inline int counter_ = 0;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const std::string kFixtures = std::string(VELTRANE_TEST_DATA) + "/settings/";

}  // namespace

TEST(Settings, MissingFileGivesEveryDefault) {
  TempFolder dir;
  Settings s;
  s.Name = "stale";
  s.ComPort = 3;
  LoadSettings(s, dir.file("VLN.INI"));
  EXPECT_EQ(s, Settings{});
  EXPECT_EQ(s.ComPort, -1);
  EXPECT_EQ(s.DialAttempts, 3);
  EXPECT_EQ(s.RetryWait, 60);
  EXPECT_EQ(s.Timeout, 60);
  EXPECT_EQ(s.MaximumBPS, 9600);
  EXPECT_EQ(s.AnswerOnRing, 1);
  EXPECT_EQ(s.DefaultFont.Name, "Arial");
  EXPECT_EQ(s.DefaultFont.Size, 10);
  EXPECT_FALSE(s.AtStartup || s.BlindDial || s.IgnoreBusy || s.DefaultFont.Bold);
  EXPECT_EQ(s.Ports[0], "/dev/ttyS0");
  EXPECT_EQ(s.Ports[5], "/dev/ttyS5");
}

TEST(Settings, IntegerAndBooleanValueForms) {
  struct Case {
    const char* text;
    int expected;  // with default 7
  };
  static const Case kCases[] = {
      {"0x10", 16},        {"0X1f", 31},  {"-1", -1},      {"  42  ", 42}, {"0", 0},
      {"abc", 7},          {"12abc", 7},  {"0x", 7},       {"", 7},        {"0x-5", 7},
      {"99999999999", 7},  {"+5", 7},     {"0x7FFFFFFF", 2147483647},      {"4 2", 7},
  };
  for (const Case& c : kCases) {
    const IniFile ini = IniFile::parse(std::string("[S]\nK=") + c.text + "\n");
    EXPECT_EQ(ReadIniInteger(ini, "S", "K", 7), c.expected) << '"' << c.text << '"';
  }
  const IniFile ini = IniFile::parse("[S]\nTwo=2\nZero=0\nJunk=yes\nNeg=-3\n");
  EXPECT_TRUE(ReadIniBool(ini, "S", "Two", false));
  EXPECT_FALSE(ReadIniBool(ini, "S", "Zero", true));
  EXPECT_TRUE(ReadIniBool(ini, "S", "Junk", true));
  EXPECT_FALSE(ReadIniBool(ini, "S", "Junk", false));
  EXPECT_TRUE(ReadIniBool(ini, "S", "Neg", false));
  EXPECT_FALSE(ReadIniBool(ini, "S", "Missing", false));
}

TEST(Settings, BooleanTwoReadsTrueAndIsSavedAsOne) {
  TempFolder dir;
  const std::string ini = dir.file("VLN.INI");
  writeFile(ini, "[Dialing]\nBlindDial=2\n[Receive]\nAtStartup=2\n");
  Settings s;
  LoadSettings(s, ini);
  EXPECT_TRUE(s.BlindDial);
  EXPECT_TRUE(s.AtStartup);
  SaveSettings(s, ini);
  const IniFile saved = IniFile::load(ini);
  EXPECT_EQ(saved.value("Dialing", "BlindDial"), "1");
  EXPECT_EQ(saved.value("Receive", "AtStartup"), "1");
  EXPECT_EQ(saved.value("Dialing", "IgnoreBusy"), "0");
}

TEST(Settings, NewFileHasSectionsAndKeysInWriteOrder) {
  TempFolder dir;
  const std::string ini = dir.file("VLN.INI");
  SaveSettings(Settings{}, ini);
  const IniFile saved = IniFile::load(ini);
  EXPECT_EQ(saved.sectionNames(),
            (std::vector<std::string>{"Receive", "User", "Dialing", "Modem", "Default Font", "Ports"}));
  EXPECT_EQ(saved.keyNames("Receive"), (std::vector<std::string>{"Wav", "AtStartup", "AnswerOnRing"}));
  EXPECT_EQ(saved.keyNames("User"), (std::vector<std::string>{"Fax", "Name"}));
  EXPECT_EQ(saved.keyNames("Dialing"),
            (std::vector<std::string>{"DialPrefix", "DialAttempts", "RetryWait", "BlindDial", "IgnoreBusy",
                                      "ToneOrPulse", "Timeout"}));
  EXPECT_EQ(saved.keyNames("Modem"),
            (std::vector<std::string>{"InitString", "ComPort", "FaxClass", "MaximumBPS"}));
  EXPECT_EQ(saved.keyNames("Default Font"),
            (std::vector<std::string>{"Name", "Size", "Bold", "Italic", "Underline"}));
  EXPECT_EQ(saved.value("Modem", "ComPort"), "-1");
  EXPECT_EQ(saved.value("Ports", "Com1"), "/dev/ttyS0");
  EXPECT_EQ(saved.value("Default Font", "Name"), "Arial");
}

TEST(Settings, SaveRoundTripsEveryValue) {
  TempFolder dir;
  const std::string ini = dir.file("VLN.INI");
  Settings s;
  s.Name = "Grace";
  s.Fax = "+1 555 0100";
  s.DialPrefix = "9,";
  s.DialAttempts = 5;
  s.RetryWait = 30;
  s.BlindDial = true;
  s.IgnoreBusy = true;
  s.ToneOrPulse = 1;
  s.Timeout = 90;
  s.ComPort = 2;
  s.FaxClass = 3;
  s.InitString = "ATX3";
  s.MaximumBPS = 14400;
  s.Wav = "/home/g/ring.wav";
  s.AtStartup = true;
  s.AnswerOnRing = 3;
  s.DefaultFont = {"Courier New", 12, true, true, true};
  s.Ports[2] = "/dev/ttyUSB0";
  SaveSettings(s, ini);
  Settings back;
  LoadSettings(back, ini);
  EXPECT_EQ(back, s);
}

// A file written by hand or by another program: everything the record does
// not hold, the comments, the line breaks and the user's hex forms survive.
TEST(Settings, SaveKeepsWhatItDoesNotOwn) {
  TempFolder dir;
  const std::string ini = dir.file("VLN.INI");
  fs::copy_file(kFixtures + "legacy.ini", ini);
  Settings s;
  LoadSettings(s, ini);
  EXPECT_EQ(s.Name, "Ada Lovelace");
  EXPECT_EQ(s.ComPort, 1);
  EXPECT_EQ(s.Timeout, 60);
  EXPECT_TRUE(s.BlindDial);
  s.FaxClass = 1;
  SaveSettings(s, ini);

  const std::string text = readFile(ini);
  EXPECT_EQ(text.rfind("; written by hand\r\n[User]\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("VendorTweak=keep me\r\n"), std::string::npos);
  EXPECT_NE(text.find("ComPort=0x1\r\n"), std::string::npos);
  EXPECT_NE(text.find("Timeout=0x3C\r\n"), std::string::npos);
  EXPECT_NE(text.find("FaxClass=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("BlindDial=1\r\n"), std::string::npos);
  EXPECT_EQ(text.find("\n\n"), std::string::npos) << "bare line break in a CRLF file";
  const IniFile saved = IniFile::load(ini);
  EXPECT_EQ(saved.keyNames("TMainScreen_Placement"),
            (std::vector<std::string>{"Left", "Top", "Right", "Bottom", "Maximized"}));
  // New keys join their section, before the blank line that ends it.
  EXPECT_EQ(saved.keyNames("Modem"), (std::vector<std::string>{"ComPort", "FaxClass", "MaximumBPS",
                                                               "VendorTweak", "InitString"}));
  EXPECT_NE(text.find("VendorTweak=keep me\r\nInitString=\r\n\r\n[Dialing]"), std::string::npos);
}

TEST(Settings, TextValues) {
  // Lookups ignore case; values are trimmed and cut at 1023 characters
  // without splitting a UTF-8 character.
  const std::string longValue(1100, 'x');
  std::string utf8(1022, 'a');
  utf8 += "\xC3\xA9tail";
  const IniFile ini = IniFile::parse("[user]\nNAME=" + longValue + "\nfax=" + utf8 + "\n");
  EXPECT_EQ(ini.value("User", "Name")->size(), 1023u);
  EXPECT_EQ(*ini.value("User", "Fax"), std::string(1022, 'a'));
  EXPECT_EQ(ini.value("User", "Missing"), std::nullopt);
  EXPECT_EQ(ini.value("Nope", "Name"), std::nullopt);
}

TEST(Settings, LineBreaksInAValueCannotInjectKeys) {
  TempFolder dir;
  const std::string ini = dir.file("VLN.INI");
  Settings s;
  s.InitString = "ATZ\n[Modem]\nComPort=5";
  s.Name = "two\r\nlines";
  SaveSettings(s, ini);
  Settings back;
  LoadSettings(back, ini);
  EXPECT_EQ(back.ComPort, -1);
  EXPECT_EQ(back.InitString, "ATZ [Modem] ComPort=5");
  EXPECT_EQ(back.Name, "two  lines");
  EXPECT_EQ(IniFile::load(ini).sectionNames().size(), 6u);
}

TEST(Settings, UnwritableFileRaisesTheMessageAndKeepsNoTemporary) {
  TempFolder dir;
  const std::string ini = dir.file("missing-folder/VLN.INI");
  try {
    SaveSettings(Settings{}, ini);
    FAIL() << "no error";
  } catch (const SettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini);
  }
  // A folder standing where the file should be.
  const std::string blocked = dir.file("VLN.INI");
  fs::create_directories(blocked + "/x");
  EXPECT_THROW(SaveSettings(Settings{}, blocked), SettingsWriteError);
  for (const auto& entry : fs::directory_iterator(dir.file("")))
    EXPECT_EQ(entry.path().filename(), "VLN.INI") << "left behind: " << entry.path();
}

TEST(Settings, SaveKeepsTheFileModeAndFollowsALink) {
  TempFolder dir;
  const std::string real = dir.file("real.ini");
  const std::string link = dir.file("VLN.INI");
  writeFile(real, "[User]\nName=x\n");
  fs::permissions(real, fs::perms(0600));
  fs::create_symlink(real, link);
  Settings s;
  s.Name = "y";
  SaveSettings(s, link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(IniFile::load(real).value("User", "Name"), "y");
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0600));
}

TEST(DataFolder, ResolutionOrder) {
  struct Case {
    DataFolderSources sources;
    const char* expected;
  };
  const Case kCases[] = {
      {{"/cli", "/env", "/prog", true, "/xdg", "/home/u"}, "/cli/"},
      {{"", "/env/", "/prog", true, "/xdg", "/home/u"}, "/env/"},
      {{std::nullopt, std::nullopt, "/prog", true, "/xdg", "/home/u"}, "/prog/"},
      {{std::nullopt, std::nullopt, "/prog", false, "/xdg", "/home/u"}, "/xdg/veltrane/"},
      {{std::nullopt, std::nullopt, "/prog", false, "", "/home/u"}, "/home/u/.local/share/veltrane/"},
      {{std::nullopt, std::nullopt, "/prog", false, std::nullopt, "/home/u/"},
       "/home/u/.local/share/veltrane/"},
  };
  for (const Case& c : kCases) EXPECT_EQ(ResolveDataFolder(c.sources), c.expected);
  EXPECT_EQ(IniFileName("/data/"), "/data/VLN.INI");
}

TEST(Settings, OversizedFileIsNeverWrittenBackCut) {
  TempFolder dir;
  const std::string ini = dir.file("VLN.INI");
  std::string text = "[User]\nName=big\n";
  while (text.size() <= IniFile::kMaxFileSize) text += "; padding padding padding padding padding\n";
  text += "[Modem]\nComPort=2\n";
  writeFile(ini, text);
  Settings s;
  LoadSettings(s, ini);
  EXPECT_EQ(s.Name, "big");
  EXPECT_THROW(SaveSettings(s, ini), SettingsWriteError);
  EXPECT_EQ(readFile(ini), text);
}
