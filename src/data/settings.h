// The settings record of a run and its file "VLN.INI".
//
// Every value is named by its key in the file. LoadSettings fills each value
// from the file or, when the key is missing or unreadable, from its default;
// SaveSettings writes every value back in a fixed order, so a new file has its
// sections in the order Receive, User, Dialing, Modem, Default Font (then
// Ports). Other sections and keys of the file are kept as they are.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

#include "data/ini_file.h"

namespace veltrane::data {

inline constexpr int kComPortNeverChosen = -1;
inline constexpr int kComPortCount = 6;

struct DefaultFontSettings {
  std::string Name = "Arial";
  int Size = 10;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool operator==(const DefaultFontSettings&) const = default;
};

struct Settings {
  // [User]
  std::string Name;
  std::string Fax;
  // [Dialing]
  std::string DialPrefix;
  int DialAttempts = 3;
  int RetryWait = 60;
  bool BlindDial = false;
  bool IgnoreBusy = false;
  int ToneOrPulse = 0;  // 0 = tone, 1 = pulse
  int Timeout = 60;
  // [Modem]
  int ComPort = kComPortNeverChosen;  // 0 = COM1 .. 5 = COM6
  int FaxClass = 0;                   // 0 = detect, 1 = Class 1, 2 = Class 2, 3 = Class 2.0
  std::string InitString;
  int MaximumBPS = 9600;
  // [Receive]
  std::string Wav;
  bool AtStartup = false;
  int AnswerOnRing = 1;
  // [Default Font]
  DefaultFontSettings DefaultFont;
  // [Ports] Com1..Com6: the serial device behind each port number.
  std::array<std::string, kComPortCount> Ports = DefaultPortPaths();

  static std::array<std::string, kComPortCount> DefaultPortPaths();
  bool operator==(const Settings&) const = default;
};

// Raised when the settings file cannot be written; the message is
// "Unable to write to <path>".
class SettingsWriteError : public std::runtime_error {
 public:
  explicit SettingsWriteError(const std::string& path);
};

// dataFolder must end with a separator, as DataFolder() returns it.
std::string IniFileName(const std::string& dataFolder);

// Value forms of the settings file.
//   integer: decimal, or hexadecimal after "0x"/"0X"; anything else gives the default.
//   boolean: read as an integer, any value but 0 is true; written as "1" or "0".
int ReadIniInteger(const IniFile& ini, std::string_view section, std::string_view key, int fallback);
bool ReadIniBool(const IniFile& ini, std::string_view section, std::string_view key, bool fallback);
std::string ReadIniText(const IniFile& ini, std::string_view section, std::string_view key,
                        const std::string& fallback);
// Writes an integer in decimal, except that a stored text which already reads
// as the same number (say "0x10" for 16) is left as the user wrote it.
void WriteIniInteger(IniFile& ini, std::string_view section, std::string_view key, int value);
void WriteIniBool(IniFile& ini, std::string_view section, std::string_view key, bool value);

// Parses an integer value form; false when the text is not one.
bool ParseIniInteger(std::string_view text, int& out);

void LoadSettings(Settings& settings, const IniFile& ini);
void LoadSettings(Settings& settings, const std::string& iniFileName);
void SaveSettings(const Settings& settings, IniFile& ini);
// Reads the file again (to keep everything this record does not hold), writes
// every value and saves safely. Throws SettingsWriteError.
void SaveSettings(const Settings& settings, const std::string& iniFileName);

}  // namespace veltrane::data
