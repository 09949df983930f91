#pragma once
// The .FPT memo file.
//
// Header (512 bytes, big-endian):
//   0     BE32 next free block (where the next new memo goes)
//   4..5  zero
//   6     BE16 block size in bytes
//   8..511 unused, written 0
// Memo at block b (byte offset b x blockSize), ceil((8 + length) / blockSize) blocks:
//   0     BE32 type: 1 = text (0 picture and 2 object are read as binary)
//   4     BE32 length of the data
//   8     the data, no terminator
// Memos are never rewritten in place: a replaced memo is written anew at the
// end and the old blocks stay as garbage until a pack.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/file_io.h"
#include "platform/xbase/status.h"

namespace veltrane::xbase {

constexpr uint32_t kMemoHeaderSize = 512;
constexpr uint32_t kDefaultMemoBlockSize = 64;
constexpr uint32_t kMaxMemoLength = 16u << 20;

// A memo file being assembled in memory (new tables, pack).
class MemoImage {
 public:
  explicit MemoImage(uint32_t block_size = kDefaultMemoBlockSize);
  uint32_t Add(std::string_view data);  // returns the block number
  const std::vector<uint8_t>& bytes();  // with the header brought up to date

 private:
  uint32_t block_size_;
  std::vector<uint8_t> bytes_;
};

class MemoFile {
 public:
  Status Open(const std::string& path, bool read_only = false);
  void Close() { file_.Close(); }
  bool is_open() const { return file_.is_open(); }

  Result<std::string> Read(uint32_t block) const;
  Result<uint32_t> Append(std::string_view data);  // data blocks first, then the header
  Status Sync() { return file_.Sync(); }
  uint32_t block_size() const { return block_size_; }
  uint64_t size() const { return size_; }

 private:
  File file_;
  uint32_t block_size_ = kDefaultMemoBlockSize;
  uint32_t next_free_ = 0;
  uint64_t size_ = 0;
};

}  // namespace veltrane::xbase
