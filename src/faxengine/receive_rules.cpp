#include "faxengine/receive_rules.h"

#include <sys/stat.h>

#include <cstdio>


namespace veltrane::faxengine {

bool TcfAcceptable(long nonZero, long byteCount) {
  if (byteCount <= 0) return false;
  return nonZero * 100 / byteCount < 10;
}

namespace {

// Only a file blocks a name: a folder that happens to carry it does not.
bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string InFolder(std::string_view dir, const std::string& name) {
  if (dir.empty()) return name;
  std::string out(dir);
  const char last = out.back();
  if (last != '/' && last != '\\' && last != ':') out += '/';
  return out + name;
}

}  // namespace

std::string DefaultReceiveName(TReceivedFileNaming mode, std::string_view dir, std::string_view ext,
                               int month, int day) {
  if (mode == rnFixed) return "noname.apf";
  char stem[16];
  for (int number = 1; number <= 9999; ++number) {
    if (mode == rnDate)
      std::snprintf(stem, sizeof stem, "%02d%02d%04d", month % 100, day % 100, number);
    else
      std::snprintf(stem, sizeof stem, "FAX%04d", number);
    std::string path = InFolder(dir, std::string(stem) + "." + std::string(ext));
    if (!FileExists(path)) return path;
  }
  return "NONAME.APF";
}

namespace {

std::string TrimControls(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return std::string(s.substr(b, e - b));
}

bool IsAsciiAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string CleanRemoteStationId(std::string_view raw) {
  std::string id = TrimControls(raw);
  if (!id.empty() && id[0] == '"') id[0] = ' ';
  while (!id.empty() && !IsAsciiAlnum(id.back())) id.pop_back();
  id = TrimControls(id);
  if (id.size() > 20) id.resize(20);
  for (char& c : id) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u > 126 || c == '"') c = ' ';
  }
  return TrimControls(id);
}

}  // namespace veltrane::faxengine
