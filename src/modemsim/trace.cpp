#include "modemsim/trace.h"

#include <chrono>
#include <ctime>

namespace veltrane::modemsim {

namespace {
constexpr std::size_t kShownBytes = 256;
}

Trace::~Trace() {
  if (ownFile_ && file_) std::fclose(file_);
}

bool Trace::open(const std::string& path) {
  if (path == "-") {
    file_ = stderr;
    return true;
  }
  file_ = std::fopen(path.c_str(), "a");
  ownFile_ = file_ != nullptr;
  return file_ != nullptr;
}

std::string Trace::printable(const std::uint8_t* data, std::size_t n, std::size_t limit) {
  std::string s;
  std::size_t shown = std::min(n, limit);
  for (std::size_t i = 0; i < shown; ++i) {
    std::uint8_t b = data[i];
    if (b >= 32 && b < 127 && b != '<') {
      s += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", b);
      s += hex;
    }
  }
  if (shown < n) s += " ... [" + std::to_string(n) + " bytes]";
  return s;
}

void Trace::line(const std::string& text) {
  if (!file_) return;
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  std::fprintf(file_, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s\n", tm.tm_year + 1900, tm.tm_mon + 1,
               tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms), text.c_str());
  std::fflush(file_);
}

void Trace::bytes(const std::string& who, const char* direction, const std::uint8_t* data, std::size_t n) {
  line(who + " " + direction + " " + printable(data, n, kShownBytes));
}

void Trace::event(const std::string& who, const std::string& text) { line(who + " --- " + text); }

}  // namespace veltrane::modemsim
