#include "faxengine/receive_page_reader.h"

namespace veltrane::faxengine {

std::uint8_t ReverseBits(std::uint8_t byte) {
  std::uint8_t out = 0;
  for (int i = 0; i < 8; ++i)
    if (byte & (1u << i)) out = static_cast<std::uint8_t>(out | (0x80u >> i));
  return out;
}

void PageDataReader::Reset() {
  dlePending_ = false;
  bytes_ = 0;
  error_ = 0;
  count_ = 0;
}

int PageDataReader::Flush(ReceivedFile& file) {
  if (count_ == 0) return 0;
  int rc = file.Append(buffer_.data(), count_);
  count_ = 0;
  return rc;
}

int PageDataReader::Store(std::uint8_t byte, ReceivedFile& file) {
  buffer_[count_++] = reverse_ ? ReverseBits(byte) : byte;
  ++bytes_;
  if (count_ < buffer_.size()) return 0;
  return Flush(file);
}

PageDataReader::Step PageDataReader::Take(std::uint8_t byte, ReceivedFile& file) {
  if (dlePending_ && byte == kEtx) {
    dlePending_ = false;
    error_ = Flush(file);
    return error_ == 0 ? Step::Complete : Step::Failed;
  }
  if (byte == kDle && !dlePending_) {
    dlePending_ = true;
    return Step::More;
  }
  // A stuffed DLE DLE is one data byte and must not start a new escape.
  dlePending_ = false;
  error_ = Store(byte, file);
  return error_ == 0 ? Step::More : Step::Failed;
}

}  // namespace veltrane::faxengine
