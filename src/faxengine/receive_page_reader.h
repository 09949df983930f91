// Reads the page data a modem delivers: DLE-stuffed bytes ending with DLE ETX.
// A doubled DLE stands for one data byte; a DLE before any other byte is
// dropped. Class 2 modems deliver each byte with its bits in the opposite
// order to the file's, so the reader mirrors them; Class 1 and Class 2.0 data
// is stored as delivered.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "faxengine/engine_records.h"
#include "faxengine/receive_file.h"

namespace veltrane::faxengine {

inline constexpr std::uint8_t kDle = 16;
inline constexpr std::uint8_t kEtx = 3;

// The byte with its bit order reversed (bit 0 <-> bit 7).
std::uint8_t ReverseBits(std::uint8_t byte);

class PageDataReader {
 public:
  enum class Step { More, Complete, Failed };

  explicit PageDataReader(bool reverseBits = false) : reverse_(reverseBits) {}
  void SetReverseBits(bool reverse) { reverse_ = reverse; }

  // A new page: no pending DLE, empty buffer, no bytes counted.
  void Reset();
  // One byte from the modem. Complete after DLE ETX (the buffered bytes are
  // written first); Failed when a write to the file failed (see Error()).
  Step Take(std::uint8_t byte, ReceivedFile& file);
  // Writes what is buffered; 0 or the error of the write.
  int Flush(ReceivedFile& file);

  long BytesTransferred() const { return bytes_; }
  int Error() const { return error_; }
  bool DlePending() const { return dlePending_; }

 private:
  int Store(std::uint8_t byte, ReceivedFile& file);

  bool reverse_;
  bool dlePending_ = false;
  long bytes_ = 0;
  int error_ = 0;
  std::array<std::uint8_t, kDataBufferSize> buffer_{};
  std::size_t count_ = 0;
};

}  // namespace veltrane::faxengine
