#include "faxengine/modem_text.h"

#include <cctype>
#include <cstdio>

namespace veltrane::faxengine {

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return std::string(s.substr(b, e - b));
}

std::string StripPrefix(std::string_view s) {
  std::string t = Trim(s);
  std::size_t cut = t.find(':');
  if (cut == std::string::npos) cut = t.find('=');
  if (cut != std::string::npos) t.erase(0, cut + 1);
  t = Trim(t);
  if (t.size() > 128) t.resize(128);
  return t;
}

int HangupCodeValue(std::string_view s) {
  std::size_t colon = s.find(':');
  if (colon == std::string_view::npos) return 0;
  std::string digits = Trim(s.substr(colon + 1, 3));
  int value = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string CleanStationId(std::string_view s) {
  std::string t = Trim(s);
  if (!t.empty() && t[0] == '"') t[0] = ' ';
  while (!t.empty() && !std::isalnum(static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(t.back())))))
    t.pop_back();
  t = Trim(t);
  if (t.size() > 20) t.resize(20);
  // Text from the line reaches status lines and logs: keep it printable.
  for (char& c : t)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
  return t;
}

std::string NormaliseModemInit(std::string_view s) {
  std::string t;
  for (char c : s) t.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  if (t.empty()) return t;
  if (t[0] != 'A') t = "AT" + t;
  if (t.size() > 40) t.resize(40);
  return t;
}

std::string StandardInitString(bool blindDial, bool detectBusy) {
  char x = blindDial ? (detectBusy ? '3' : '1') : (detectBusy ? '4' : '2');
  return std::string("ATE0Q0V1X") + x + "S0=0S2=43";
}

FaxClassFlags ParseClassAnswer(std::string_view answer) {
  FaxClassFlags f;
  f.class1 = answer.find('1') != std::string_view::npos;
  if (answer.find("2.0") != std::string_view::npos) {
    f.class20 = true;
    f.class2 = answer.find("2,") != std::string_view::npos;
  } else {
    f.class2 = answer.find('2') != std::string_view::npos;
  }
  return f;
}

std::string PageModulation(std::string_view trainingModulation) {
  if (trainingModulation == "145") return "146";
  if (trainingModulation == "121") return "122";
  if (trainingModulation == "97") return "98";
  if (trainingModulation == "73") return "74";
  return std::string(trainingModulation);
}

int ApplySpeedAnswer(std::string_view line, std::array<bool, 7>& flags) {
  if (line.find(',') != std::string_view::npos) {
    static const char* const kCodes[] = {"72", "96", "121", "145"};
    for (int i = 0; i < 4; ++i)
      if (line.find(kCodes[i]) != std::string_view::npos) flags[3 + i] = true;
  }
  int best = 1;
  for (int i = 1; i <= 6; ++i)
    if (flags[i]) best = i;
  return best;
}

std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "<%02X>", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace veltrane::faxengine
