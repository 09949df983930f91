#pragma once
// Thin POSIX file wrapper: whole-buffer reads and writes at offsets, fsync,
// an exclusive advisory lock, and the rename/remove helpers the safe update
// order needs.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/xbase/status.h"

namespace veltrane::xbase {

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  enum class Mode { kReadOnly, kReadWrite, kCreateNew, kCreateTruncate };
  Status Open(const std::string& path, Mode mode);
  void Close();
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Takes a non-blocking exclusive lock; kLocked when someone else holds it.
  Status LockExclusive();

  Result<uint64_t> Size() const;
  Status ReadAt(uint64_t offset, void* buffer, size_t length) const;
  Status WriteAt(uint64_t offset, const void* data, size_t length);
  Status Truncate(uint64_t length);
  Status Sync();
  Result<std::vector<uint8_t>> ReadAll(uint64_t limit) const;

 private:
  int fd_ = -1;
  std::string path_;
};

bool FileExists(const std::string& path);
Status RenameFile(const std::string& from, const std::string& to);
Status RemoveFile(const std::string& path);  // ok when already absent
Status SyncDirectoryOf(const std::string& path);
// Writes a complete file under `path` + ".NEW", fsyncs it and renames it over
// `path`, so readers see the old or the new file, never a mix.
Status ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                             bool sync);

// Replaces the extension of a table path ("VLN.DBF" -> "VLN.CDX"), keeping
// the case style of the extension that was there.
std::string SiblingPath(const std::string& dbf_path, const char* upper_extension);

}  // namespace veltrane::xbase
