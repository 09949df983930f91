#include "platform/serial/trace.h"

#include <cinttypes>
#include <ctime>

namespace veltrane::serial {

namespace {

constexpr std::size_t kBytesPerLine = 16;

std::string seconds(int64_t relMs) {
  char buf[32];
  if (relMs < 0) relMs = 0;
  std::snprintf(buf, sizeof buf, "%8" PRId64 ".%03d", relMs / 1000, static_cast<int>(relMs % 1000));
  return buf;
}

// Sessions are appended so that a dialog trying one port after another keeps
// them all; a file grown past this size is started afresh by the next session.
constexpr long kMaxFileBytes = 4L << 20;

std::FILE* openForSession(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "a");
  if (f && std::ftell(f) > kMaxFileBytes) {
    std::fclose(f);
    f = std::fopen(path.c_str(), "w");
  }
  return f;
}

}  // namespace

std::string wallClockStamp() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

PortTrace::PortTrace(std::string path, std::size_t maxEntries, std::string deviceName, int64_t originMs)
    : path_(std::move(path)), device_(std::move(deviceName)), origin_(originMs) {
  ring_.resize(maxEntries == 0 ? 1 : maxEntries);
}

PortTrace::~PortTrace() { writeOut(); }

void PortTrace::record(TraceDir dir, const uint8_t* bytes, std::size_t n, int64_t nowMs) {
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t slot = (head_ + count_) % ring_.size();
    if (count_ == ring_.size()) {
      // Full: keep the newest bytes, which show how a session ended.
      head_ = (head_ + 1) % ring_.size();
      ++dropped_;
    } else {
      ++count_;
    }
    ring_[slot] = Entry{nowMs, bytes[i], dir};
  }
}

std::string PortTrace::formatLine(int64_t relMs, TraceDir dir, const uint8_t* bytes, std::size_t n) {
  std::string hex, text;
  for (std::size_t i = 0; i < n; ++i) {
    char h[4];
    std::snprintf(h, sizeof h, "%02X ", bytes[i]);
    hex += h;
    text += (bytes[i] >= 32 && bytes[i] < 127) ? static_cast<char>(bytes[i]) : '.';
  }
  hex.resize(kBytesPerLine * 3, ' ');
  return seconds(relMs) + (dir == TraceDir::Tx ? " Tx " : " Rx ") + hex + "|" + text + "|\n";
}

bool PortTrace::writeOut() {
  if (path_.empty() || (count_ == 0 && headerWritten_)) return true;
  std::FILE* f = headerWritten_ ? std::fopen(path_.c_str(), "a") : openForSession(path_);
  if (!f) return false;
  if (!headerWritten_) {
    std::fprintf(f, "Trace of %s opened %s\n", device_.c_str(), wallClockStamp().c_str());
    headerWritten_ = true;
  }
  if (dropped_ > 0) std::fprintf(f, "  (%zu earlier bytes not kept)\n", dropped_);
  std::size_t i = 0;
  while (i < count_) {
    const Entry& first = ring_[(head_ + i) % ring_.size()];
    uint8_t line[kBytesPerLine];
    std::size_t n = 0;
    while (i < count_ && n < kBytesPerLine) {
      const Entry& e = ring_[(head_ + i) % ring_.size()];
      if (e.dir != first.dir || e.ms != first.ms) break;
      line[n++] = e.byte;
      ++i;
    }
    std::fputs(formatLine(first.ms - origin_, first.dir, line, n).c_str(), f);
  }
  head_ = count_ = dropped_ = 0;
  bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

PortLog::PortLog(std::string path, std::string deviceName, int64_t originMs) : origin_(originMs) {
  if (path.empty()) return;
  file_ = openForSession(path);
  if (file_) std::fprintf(file_, "Log of %s opened %s\n", deviceName.c_str(), wallClockStamp().c_str());
}

PortLog::~PortLog() {
  if (file_) std::fclose(file_);
}

void PortLog::line(const std::string& text, int64_t nowMs) {
  if (!file_) return;
  std::fprintf(file_, "%s %s\n", seconds(nowMs - origin_).c_str(), text.c_str());
  std::fflush(file_);
}

}  // namespace veltrane::serial
