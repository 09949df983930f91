#include "imaging/unpack_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/imaging_errors.h"

namespace veltrane::imaging {

FileUnpackSource::FileUnpackSource(const std::string& path) {
  if (path.empty()) {
    openError_ = kErrFileNotFound;
    return;
  }
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) openError_ = FileErrorFromErrno(errno);
}

FileUnpackSource::~FileUnpackSource() {
  if (fd_ >= 0) ::close(fd_);
}

long FileUnpackSource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
  if (fd_ < 0) return openError_ ? openError_ : kErrFileNotFound;
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return FileErrorFromErrno(errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long>(done);
}

long MemoryUnpackSource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(count, bytes_.size() - offset);
  std::memcpy(buffer, bytes_.data() + offset, n);
  return static_cast<long>(n);
}

}  // namespace veltrane::imaging
