// The port's two diagnostic files.
//
// Trace: every byte in and out with its time, kept as the last N bytes in
// memory and appended to the file when written out, as lines of up to 16
// bytes of one direction and one millisecond:
//
//   Trace of /dev/pts/4 opened 2026-12-11 12:40:01
//        0.100 Tx 41 54 0D                                        |AT.|
//        0.131 Rx 0D 0A 4F 4B 0D 0A                               |..OK..|
//
// Times are seconds since the port opened; the printable column shows bytes
// 32..126 as themselves and every other byte as '.'. Both files take one
// session after another; one grown past 4 MB is started afresh.
//
// Log: one line per port or dispatcher event, appended as it happens:
//
//   Log of /dev/pts/4 opened 2026-12-11 12:40:01
//        0.000 open 19200 8N1
//        1.204 timer trigger 2 fired
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace veltrane::serial {

enum class TraceDir : uint8_t { Rx, Tx };

class PortTrace {
 public:
  PortTrace(std::string path, std::size_t maxEntries, std::string deviceName, int64_t originMs);
  ~PortTrace();  // writes what is left

  void record(TraceDir dir, const uint8_t* bytes, std::size_t n, int64_t nowMs);
  // Appends the kept bytes to the file and empties the memory; false on a file error.
  bool writeOut();
  std::size_t keptEntries() const { return count_; }

  // One formatted line (exposed for tests of the format).
  static std::string formatLine(int64_t relMs, TraceDir dir, const uint8_t* bytes, std::size_t n);

 private:
  struct Entry {
    int64_t ms;
    uint8_t byte;
    TraceDir dir;
  };
  std::string path_;
  std::string device_;
  int64_t origin_;
  std::vector<Entry> ring_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  std::size_t dropped_ = 0;
  bool headerWritten_ = false;
};

class PortLog {
 public:
  PortLog(std::string path, std::string deviceName, int64_t originMs);
  ~PortLog();
  void line(const std::string& text, int64_t nowMs);

 private:
  std::FILE* file_ = nullptr;
  int64_t origin_;
};

// "YYYY-MM-DD HH:MM:SS" of the wall clock, for file headers.
std::string wallClockStamp();

}  // namespace veltrane::serial
