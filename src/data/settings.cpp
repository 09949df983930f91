#include "data/settings.h"

#include <charconv>
#include <limits>

namespace veltrane::data {
namespace {

constexpr std::string_view kUser = "User";
constexpr std::string_view kDialing = "Dialing";
constexpr std::string_view kModem = "Modem";
constexpr std::string_view kReceive = "Receive";
constexpr std::string_view kFont = "Default Font";
constexpr std::string_view kPorts = "Ports";

std::string portKey(int index) { return "Com" + std::to_string(index + 1); }

}  // namespace

std::array<std::string, kComPortCount> Settings::DefaultPortPaths() {
  std::array<std::string, kComPortCount> paths;
  for (int i = 0; i < kComPortCount; ++i) paths[static_cast<std::size_t>(i)] = "/dev/ttyS" + std::to_string(i);
  return paths;
}

SettingsWriteError::SettingsWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path) {}

std::string IniFileName(const std::string& dataFolder) { return dataFolder + "VLN.INI"; }

bool ParseIniInteger(std::string_view text, int& out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string_view digits = hex ? text.substr(2) : text;
  if (digits.empty()) return false;
  long long value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  // "0x-5" is not a number; from_chars would accept the sign.
  if (hex && digits.front() == '-') return false;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return false;
  out = static_cast<int>(value);
  return true;
}

int ReadIniInteger(const IniFile& ini, std::string_view section, std::string_view key, int fallback) {
  const auto text = ini.value(section, key);
  int value = 0;
  return (text && ParseIniInteger(*text, value)) ? value : fallback;
}

bool ReadIniBool(const IniFile& ini, std::string_view section, std::string_view key, bool fallback) {
  return ReadIniInteger(ini, section, key, fallback ? 1 : 0) != 0;
}

std::string ReadIniText(const IniFile& ini, std::string_view section, std::string_view key,
                        const std::string& fallback) {
  return ini.value(section, key).value_or(fallback);
}

void WriteIniInteger(IniFile& ini, std::string_view section, std::string_view key, int value) {
  int stored = 0;
  if (const auto text = ini.value(section, key); text && ParseIniInteger(*text, stored) && stored == value)
    return;
  ini.setValue(section, key, std::to_string(value));
}

void WriteIniBool(IniFile& ini, std::string_view section, std::string_view key, bool value) {
  ini.setValue(section, key, value ? "1" : "0");
}

void LoadSettings(Settings& s, const IniFile& ini) {
  const Settings d;
  s.Name = ReadIniText(ini, kUser, "Name", d.Name);
  s.Fax = ReadIniText(ini, kUser, "Fax", d.Fax);
  s.DialPrefix = ReadIniText(ini, kDialing, "DialPrefix", d.DialPrefix);
  s.DialAttempts = ReadIniInteger(ini, kDialing, "DialAttempts", d.DialAttempts);
  s.RetryWait = ReadIniInteger(ini, kDialing, "RetryWait", d.RetryWait);
  s.BlindDial = ReadIniBool(ini, kDialing, "BlindDial", d.BlindDial);
  s.IgnoreBusy = ReadIniBool(ini, kDialing, "IgnoreBusy", d.IgnoreBusy);
  s.ToneOrPulse = ReadIniInteger(ini, kDialing, "ToneOrPulse", d.ToneOrPulse);
  s.Timeout = ReadIniInteger(ini, kDialing, "Timeout", d.Timeout);
  s.ComPort = ReadIniInteger(ini, kModem, "ComPort", d.ComPort);
  s.FaxClass = ReadIniInteger(ini, kModem, "FaxClass", d.FaxClass);
  s.InitString = ReadIniText(ini, kModem, "InitString", d.InitString);
  s.MaximumBPS = ReadIniInteger(ini, kModem, "MaximumBPS", d.MaximumBPS);
  s.Wav = ReadIniText(ini, kReceive, "Wav", d.Wav);
  s.AtStartup = ReadIniBool(ini, kReceive, "AtStartup", d.AtStartup);
  s.AnswerOnRing = ReadIniInteger(ini, kReceive, "AnswerOnRing", d.AnswerOnRing);
  s.DefaultFont.Name = ReadIniText(ini, kFont, "Name", d.DefaultFont.Name);
  s.DefaultFont.Size = ReadIniInteger(ini, kFont, "Size", d.DefaultFont.Size);
  s.DefaultFont.Bold = ReadIniBool(ini, kFont, "Bold", d.DefaultFont.Bold);
  s.DefaultFont.Italic = ReadIniBool(ini, kFont, "Italic", d.DefaultFont.Italic);
  s.DefaultFont.Underline = ReadIniBool(ini, kFont, "Underline", d.DefaultFont.Underline);
  for (int i = 0; i < kComPortCount; ++i) {
    auto& path = s.Ports[static_cast<std::size_t>(i)];
    path = ReadIniText(ini, kPorts, portKey(i), d.Ports[static_cast<std::size_t>(i)]);
    if (path.empty()) path = d.Ports[static_cast<std::size_t>(i)];
  }
}

void LoadSettings(Settings& settings, const std::string& iniFileName) {
  LoadSettings(settings, IniFile::load(iniFileName));
}

// The order of the writes decides the order of sections and keys in a new file.
void SaveSettings(const Settings& s, IniFile& ini) {
  ini.setValue(kReceive, "Wav", s.Wav);
  WriteIniBool(ini, kReceive, "AtStartup", s.AtStartup);
  WriteIniInteger(ini, kReceive, "AnswerOnRing", s.AnswerOnRing);
  ini.setValue(kUser, "Fax", s.Fax);
  ini.setValue(kUser, "Name", s.Name);
  ini.setValue(kDialing, "DialPrefix", s.DialPrefix);
  ini.setValue(kModem, "InitString", s.InitString);
  WriteIniInteger(ini, kDialing, "DialAttempts", s.DialAttempts);
  WriteIniInteger(ini, kDialing, "RetryWait", s.RetryWait);
  WriteIniBool(ini, kDialing, "BlindDial", s.BlindDial);
  WriteIniBool(ini, kDialing, "IgnoreBusy", s.IgnoreBusy);
  WriteIniInteger(ini, kModem, "ComPort", s.ComPort);
  WriteIniInteger(ini, kModem, "FaxClass", s.FaxClass);
  WriteIniInteger(ini, kDialing, "ToneOrPulse", s.ToneOrPulse);
  WriteIniInteger(ini, kDialing, "Timeout", s.Timeout);
  ini.setValue(kFont, "Name", s.DefaultFont.Name);
  WriteIniInteger(ini, kFont, "Size", s.DefaultFont.Size);
  WriteIniBool(ini, kFont, "Bold", s.DefaultFont.Bold);
  WriteIniBool(ini, kFont, "Italic", s.DefaultFont.Italic);
  WriteIniBool(ini, kFont, "Underline", s.DefaultFont.Underline);
  WriteIniInteger(ini, kModem, "MaximumBPS", s.MaximumBPS);
  for (int i = 0; i < kComPortCount; ++i) ini.setValue(kPorts, portKey(i), s.Ports[static_cast<std::size_t>(i)]);
}

void SaveSettings(const Settings& settings, const std::string& iniFileName) {
  IniFile ini = IniFile::load(iniFileName);
  SaveSettings(settings, ini);
  if (!ini.save(iniFileName)) throw SettingsWriteError(iniFileName);
}

}  // namespace veltrane::data
