#include "platform/xbase/memo_file.h"

#include <algorithm>
#include <cstring>

#include "platform/xbase/bytes.h"

namespace veltrane::xbase {
namespace {

constexpr uint32_t kTextMemo = 1;

uint64_t BlocksFor(uint64_t bytes, uint32_t block_size) {
  return (bytes + block_size - 1) / block_size;
}

}  // namespace

MemoImage::MemoImage(uint32_t block_size) : block_size_(block_size), bytes_(kMemoHeaderSize, 0) {
  bytes_.resize(BlocksFor(kMemoHeaderSize, block_size_) * block_size_, 0);
}

uint32_t MemoImage::Add(std::string_view data) {
  uint32_t block = uint32_t(bytes_.size() / block_size_);
  size_t at = bytes_.size();
  bytes_.resize(at + BlocksFor(8 + data.size(), block_size_) * block_size_, 0);
  PutBe32(bytes_.data() + at, kTextMemo);
  PutBe32(bytes_.data() + at + 4, uint32_t(data.size()));
  if (!data.empty()) std::memcpy(bytes_.data() + at + 8, data.data(), data.size());
  return block;
}

const std::vector<uint8_t>& MemoImage::bytes() {
  PutBe32(bytes_.data(), uint32_t(bytes_.size() / block_size_));
  PutBe16(bytes_.data() + 4, 0);
  PutBe16(bytes_.data() + 6, block_size_);
  return bytes_;
}

Status MemoFile::Open(const std::string& path, bool read_only) {
  auto corrupt = [&](const char* why) {
    return Status(kCorrupt, std::string("damaged memo file ") + path + ": " + why);
  };
  Status s = file_.Open(path, read_only ? File::Mode::kReadOnly : File::Mode::kReadWrite);
  if (!s.ok()) return s;
  auto size = file_.Size();
  if (!size.ok()) return size.status();
  size_ = size.value();
  if (size_ < kMemoHeaderSize) return corrupt("shorter than its header");
  uint8_t header[8];
  if (s = file_.ReadAt(0, header, sizeof header); !s.ok()) return s;
  if (Be16(header + 4) != 0) return corrupt("unknown header layout");
  block_size_ = Be16(header + 6);
  if (block_size_ == 0) return corrupt("block size 0");
  next_free_ = Be32(header);
  // New memos go to the first block past the end of the file, whatever the
  // header says: a smaller value would overwrite memos, a larger one (a damaged
  // header) would grow a huge sparse file.
  const uint64_t first_unused = BlocksFor(std::max<uint64_t>(size_, kMemoHeaderSize), block_size_);
  if (first_unused > 0xFFFFFFFFu) return corrupt("file too large");
  next_free_ = uint32_t(first_unused);
  return {};
}

Result<std::string> MemoFile::Read(uint32_t block) const {
  auto corrupt = [&](const std::string& why) {
    return Status(kCorrupt, "damaged memo " + std::to_string(block) + " in " + file_.path() +
                                ": " + why);
  };
  uint64_t offset = uint64_t(block) * block_size_;
  if (offset < kMemoHeaderSize || offset + 8 > size_) return corrupt("block outside the file");
  uint8_t header[8];
  if (Status s = file_.ReadAt(offset, header, sizeof header); !s.ok()) return s;
  uint32_t type = Be32(header);
  uint32_t length = Be32(header + 4);
  if (type > 2) return corrupt("unknown block type");
  if (length > size_ - (offset + 8)) return corrupt("length beyond the end of the file");
  if (length > kMaxMemoLength) return corrupt("memo too large");
  std::string data(length, '\0');
  if (length > 0) {
    if (Status s = file_.ReadAt(offset + 8, data.data(), length); !s.ok()) return s;
  }
  return data;
}

Result<uint32_t> MemoFile::Append(std::string_view data) {
  if (data.size() > kMaxMemoLength) return Status(kTooLarge, "memo too large");
  uint64_t blocks = BlocksFor(8 + data.size(), block_size_);
  if (uint64_t(next_free_) + blocks > 0xFFFFFFFFu) return Status(kTooLarge, "memo file full");
  uint32_t block = next_free_;
  std::vector<uint8_t> bytes(size_t(blocks * block_size_), 0);
  PutBe32(bytes.data(), kTextMemo);
  PutBe32(bytes.data() + 4, uint32_t(data.size()));
  if (!data.empty()) std::memcpy(bytes.data() + 8, data.data(), data.size());
  uint64_t offset = uint64_t(block) * block_size_;
  if (Status s = file_.WriteAt(offset, bytes.data(), bytes.size()); !s.ok()) return s;
  size_ = std::max(size_, offset + bytes.size());
  next_free_ = uint32_t(block + blocks);
  uint8_t next[4];
  PutBe32(next, next_free_);
  if (Status s = file_.WriteAt(0, next, sizeof next); !s.ok()) return s;
  return block;
}

}  // namespace veltrane::xbase
