#include "platform/xbase/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veltrane::xbase {
namespace {

Status IoError(const std::string& what, const std::string& path) {
  return Status(kIoError, what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

Status File::Open(const std::string& path, Mode mode) {
  Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kReadOnly: flags |= O_RDONLY; break;
    case Mode::kReadWrite: flags |= O_RDWR; break;
    case Mode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case Mode::kCreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) {
    if (errno == ENOENT) return Status(kNotFound, "file not found: " + path);
    if (errno == EEXIST) return Status(kAlreadyExists, "file already exists: " + path);
    return IoError("cannot open", path);
  }
  path_ = path;
  return {};
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Status File::LockExclusive() {
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return {};
  if (errno == EWOULDBLOCK) {
    return Status(kLocked, "table is in use by another program: " + path_);
  }
  return IoError("cannot lock", path_);
}

Result<uint64_t> File::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return IoError("cannot stat", path_);
  return uint64_t(st.st_size);
}

Status File::ReadAt(uint64_t offset, void* buffer, size_t length) const {
  auto* out = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    ssize_t n = ::pread(fd_, out, length, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return IoError("cannot read", path_);
    if (n == 0) return Status(kCorrupt, "unexpected end of file: " + path_);
    out += n;
    offset += uint64_t(n);
    length -= size_t(n);
  }
  return {};
}

Status File::WriteAt(uint64_t offset, const void* data, size_t length) {
  const auto* in = static_cast<const uint8_t*>(data);
  while (length > 0) {
    ssize_t n = ::pwrite(fd_, in, length, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return IoError("cannot write", path_);
    in += n;
    offset += uint64_t(n);
    length -= size_t(n);
  }
  return {};
}

Status File::Truncate(uint64_t length) {
  if (::ftruncate(fd_, off_t(length)) != 0) return IoError("cannot truncate", path_);
  return {};
}

Status File::Sync() {
  if (::fsync(fd_) != 0) return IoError("cannot flush", path_);
  return {};
}

Result<std::vector<uint8_t>> File::ReadAll(uint64_t limit) const {
  auto size = Size();
  if (!size.ok()) return size.status();
  if (size.value() > limit) return Status(kTooLarge, "file too large: " + path_);
  std::vector<uint8_t> bytes(size_t(size.value()));
  if (Status s = ReadAt(0, bytes.data(), bytes.size()); !s.ok()) return s;
  return bytes;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

Status RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return IoError("cannot rename to " + to + ":", from);
  return {};
}

Status RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return IoError("cannot delete", path);
  return {};
}

Status SyncDirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return IoError("cannot open folder", dir);
  int rc = ::fsync(fd);
  ::close(fd);
  if (rc != 0) return IoError("cannot flush folder", dir);
  return {};
}

Status ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                             bool sync) {
  const std::string temp = path + ".NEW";
  File file;
  if (Status s = file.Open(temp, File::Mode::kCreateTruncate); !s.ok()) return s;
  if (Status s = file.WriteAt(0, bytes.data(), bytes.size()); !s.ok()) return s;
  if (sync) {
    if (Status s = file.Sync(); !s.ok()) return s;
  }
  file.Close();
  if (Status s = RenameFile(temp, path); !s.ok()) return s;
  return sync ? SyncDirectoryOf(path) : Status();
}

std::string SiblingPath(const std::string& dbf_path, const char* upper_extension) {
  size_t slash = dbf_path.find_last_of('/');
  size_t dot = dbf_path.find_last_of('.');
  std::string base = dbf_path;
  bool lower = false;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    base = dbf_path.substr(0, dot);
    lower = dot + 1 < dbf_path.size() && std::islower(uint8_t(dbf_path[dot + 1]));
  }
  std::string ext = upper_extension;
  if (lower) {
    for (char& c : ext) c = char(std::tolower(uint8_t(c)));
  }
  return base + "." + ext;
}

}  // namespace veltrane::xbase
