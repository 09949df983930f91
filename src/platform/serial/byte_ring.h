// A fixed-capacity FIFO of bytes: the port's input and output buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::serial {

class ByteRing {
 public:
  explicit ByteRing(std::size_t capacity = 0) { reset(capacity); }

  void reset(std::size_t capacity) {
    buf_.assign(capacity, 0);
    head_ = size_ = 0;
  }
  // Changes the capacity keeping the bytes held; false (and no change) when
  // they would not fit.
  bool resize(std::size_t capacity) {
    if (capacity < size_) return false;
    std::vector<uint8_t> held;
    held.reserve(size_);
    for (std::size_t i = 0; i < size_; ++i) held.push_back(buf_[(head_ + i) % buf_.size()]);
    reset(capacity);
    push(held.data(), held.size());
    return true;
  }
  std::size_t capacity() const { return buf_.size(); }
  std::size_t size() const { return size_; }
  std::size_t free() const { return buf_.size() - size_; }
  bool empty() const { return size_ == 0; }
  void clear() { head_ = size_ = 0; }

  // Appends as many bytes as fit; returns how many.
  std::size_t push(const uint8_t* src, std::size_t n) {
    if (n > free()) n = free();
    for (std::size_t i = 0; i < n; ++i) buf_[(head_ + size_ + i) % buf_.size()] = src[i];
    size_ += n;
    return n;
  }
  bool pushByte(uint8_t b) { return push(&b, 1) == 1; }

  uint8_t front() const { return buf_[head_]; }
  void pop(std::size_t n) {
    if (n > size_) n = size_;
    if (buf_.empty()) return;
    head_ = (head_ + n) % buf_.size();
    size_ -= n;
  }
  // Contiguous run at the front (for writes without copying).
  const uint8_t* frontRun(std::size_t& n) const {
    n = size_ == 0 ? 0 : (head_ + size_ <= buf_.size() ? size_ : buf_.size() - head_);
    return buf_.data() + head_;
  }

 private:
  std::vector<uint8_t> buf_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace veltrane::serial
