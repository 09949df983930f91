// Where the unpacker reads an APF file from: a file opened read-only, or bytes
// in memory. Reads are positioned, so a corrupt offset can only make a read
// come back short, never move anything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "imaging/apf.h"

namespace veltrane::imaging {

class UnpackSource {
 public:
  virtual ~UnpackSource() = default;
  // Bytes read (fewer at the end of the file), or a negative file error.
  virtual long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) = 0;
};

class FileUnpackSource final : public UnpackSource {
 public:
  explicit FileUnpackSource(const std::string& path);
  ~FileUnpackSource() override;
  FileUnpackSource(const FileUnpackSource&) = delete;
  FileUnpackSource& operator=(const FileUnpackSource&) = delete;
  int OpenError() const { return openError_; }
  long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) override;

 private:
  int fd_ = -1;
  int openError_ = 0;
};

class MemoryUnpackSource final : public UnpackSource {
 public:
  explicit MemoryUnpackSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

struct UnpackerState;

// The page decode over any source (unpack.cpp), shared with the bitmap decode.
int DecodePageFromSource(UnpackerState& state, UnpackSource& source, unsigned pageNumber);
// Reads the file header and walks to page `pageNumber`'s header.
int LocatePageInSource(UnpackSource& source, unsigned pageNumber, ApfFileHeader& fileHeader,
                       ApfPageHeader& pageHeader);

}  // namespace veltrane::imaging
