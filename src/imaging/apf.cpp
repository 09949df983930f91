#include "imaging/apf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>

#include "imaging/imaging_errors.h"

namespace veltrane::imaging {
namespace {

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A read-only descriptor that closes itself.
class ReadFile {
 public:
  explicit ReadFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) error_ = FileErrorFromErrno(errno);
  }
  ~ReadFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadFile(const ReadFile&) = delete;
  ReadFile& operator=(const ReadFile&) = delete;

  int Error() const { return error_; }
  int Fd() const { return fd_; }
  // Reads exactly n bytes at offset; a short read is kErrReadPastEnd.
  int ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return FileErrorFromErrno(errno);
      if (got == 0) return kErrReadPastEnd;
      done += static_cast<std::size_t>(got);
    }
    return 0;
  }
  int Size(std::uint64_t& size) const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return FileErrorFromErrno(errno);
    size = static_cast<std::uint64_t>(st.st_size);
    return 0;
  }

 private:
  int fd_;
  int error_ = 0;
};

int WriteAll(int fd, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    ssize_t put = ::write(fd, data, n);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return FileErrorFromErrno(errno);
    if (put == 0) return kErrDiskWrite;
    data += put;
    n -= static_cast<std::size_t>(put);
  }
  return 0;
}

int PwriteAll(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    ssize_t put = ::pwrite(fd, data, n, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return FileErrorFromErrno(errno);
    if (put == 0) return kErrDiskWrite;
    data += put;
    offset += static_cast<std::uint64_t>(put);
    n -= static_cast<std::size_t>(put);
  }
  return 0;
}

}  // namespace

std::string ApfFileHeader::SenderIdText() const {
  std::size_t n = std::min<std::size_t>(SenderIdLength, kApfSenderIdSize);
  return std::string(SenderId.data(), n);
}

void EncodeFileHeader(const ApfFileHeader& h, std::uint8_t out[kApfFileHeaderSize]) {
  std::memset(out, 0, kApfFileHeaderSize);
  std::memcpy(out, h.Signature.data(), 6);
  Put32(out + 6, h.TimeStamp);
  out[10] = h.SenderIdLength;
  std::memcpy(out + 11, h.SenderId.data(), kApfSenderIdSize);
  Put16(out + 32, h.PageCount);
  Put32(out + 34, h.FirstPageOffset);
}

ApfFileHeader DecodeFileHeader(const std::uint8_t in[kApfFileHeaderSize]) {
  ApfFileHeader h;
  std::memcpy(h.Signature.data(), in, 6);
  h.TimeStamp = Get32(in + 6);
  h.SenderIdLength = in[10];
  std::memcpy(h.SenderId.data(), in + 11, kApfSenderIdSize);
  h.PageCount = Get16(in + 32);
  h.FirstPageOffset = Get32(in + 34);
  return h;
}

void EncodePageHeader(const ApfPageHeader& h, std::uint8_t out[kApfPageHeaderSize]) {
  std::memset(out, 0, kApfPageHeaderSize);
  Put32(out, h.DataLength);
  Put16(out + 4, h.PageFlags);
}

ApfPageHeader DecodePageHeader(const std::uint8_t in[kApfPageHeaderSize]) {
  return ApfPageHeader{Get32(in), Get16(in + 4)};
}

void SetSenderId(ApfFileHeader& h, std::string_view stationId) {
  std::size_t n = std::min(stationId.size(), kApfSenderIdSize);
  h.SenderId.fill(' ');
  std::memcpy(h.SenderId.data(), stationId.data(), n);
  h.SenderIdLength = static_cast<std::uint8_t>(n);
}

std::uint32_t DosTimeStamp(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980 || year > 2099) return 0;
  std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  std::uint32_t time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

std::uint32_t DosTimeStampNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return 0;
  return DosTimeStamp(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
}

bool IsApfFile(const std::string& path) {
  ReadFile f(path);
  if (f.Error() != 0) return false;
  std::uint8_t sig[6];
  if (f.ReadAt(0, sig, sizeof sig) != 0) return false;
  return std::memcmp(sig, kApfSignature.data(), 6) == 0;
}

static int ReadHeaderFrom(const ReadFile& f, ApfFileHeader& out) {
  std::uint8_t raw[kApfFileHeaderSize];
  if (int rc = f.ReadAt(0, raw, sizeof raw); rc != 0) {
    // A file too short to hold even the signature is simply not ours.
    std::uint8_t sig[6];
    if (rc == kErrReadPastEnd && (f.ReadAt(0, sig, 6) != 0 || std::memcmp(sig, kApfSignature.data(), 6) != 0))
      return kErrNotApf;
    return rc;
  }
  out = DecodeFileHeader(raw);
  return out.HasSignature() ? 0 : kErrNotApf;
}

int ReadFaxHeader(const std::string& path, ApfFileHeader& out) {
  if (path.empty()) return kErrFileNotFound;
  ReadFile f(path);
  if (f.Error() != 0) return f.Error();
  return ReadHeaderFrom(f, out);
}

int ReadPageHeader(const std::string& path, unsigned pageNumber, ApfPageHeader& out,
                   std::uint64_t* dataOffset) {
  if (path.empty()) return kErrFileNotFound;
  ReadFile f(path);
  if (f.Error() != 0) return f.Error();
  ApfFileHeader header;
  if (int rc = ReadHeaderFrom(f, header); rc != 0) return rc;
  if (pageNumber == 0 || pageNumber > header.PageCount) return kErrNotApf;
  std::uint64_t fileSize = 0;
  if (int rc = f.Size(fileSize); rc != 0) return rc;
  std::uint64_t offset = header.FirstPageOffset;
  for (unsigned page = 1;; ++page) {
    std::uint8_t raw[kApfPageHeaderSize];
    if (offset + kApfPageHeaderSize > fileSize) return kErrReadPastEnd;
    if (int rc = f.ReadAt(offset, raw, sizeof raw); rc != 0) return rc;
    ApfPageHeader ph = DecodePageHeader(raw);
    std::uint64_t dataStart = offset + kApfPageHeaderSize;
    if (page == pageNumber) {
      out = ph;
      if (dataOffset) *dataOffset = dataStart;
      return 0;
    }
    offset = dataStart + ph.DataLength;
  }
}

int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
  if (path.empty()) return kErrFileNotFound;
  ReadFile f(path);
  if (f.Error() != 0) return f.Error();
  std::uint64_t size = 0;
  if (int rc = f.Size(size); rc != 0) return rc;
  if (size > std::numeric_limits<std::size_t>::max() / 2) return kErrOutOfMemory;
  try {
    out.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return f.ReadAt(0, out.data(), out.size());
}

int ApfPageWalker::Open(std::span<const std::uint8_t> file) {
  file_ = {};
  header_ = ApfFileHeader{};
  if (file.size() < kApfFileHeaderSize) return kErrNotApf;
  header_ = DecodeFileHeader(file.data());
  if (!header_.HasSignature()) return kErrNotApf;
  file_ = file;
  return 0;
}

int ApfPageWalker::Page(unsigned pageNumber, ApfPageView& out) const {
  if (file_.empty() || pageNumber == 0 || pageNumber > header_.PageCount) return kErrNotApf;
  const std::uint64_t size = file_.size();
  std::uint64_t offset = header_.FirstPageOffset;
  for (unsigned page = 1;; ++page) {
    if (offset + kApfPageHeaderSize > size) return kErrReadPastEnd;
    ApfPageHeader ph = DecodePageHeader(file_.data() + offset);
    std::uint64_t dataStart = offset + kApfPageHeaderSize;
    if (page == pageNumber) {
      if (ph.DataLength > size - dataStart) return kErrReadPastEnd;
      out.PageFlags = ph.PageFlags;
      out.Data = file_.subspan(static_cast<std::size_t>(dataStart), ph.DataLength);
      return 0;
    }
    offset = dataStart + ph.DataLength;
  }
}

// ---- Writer ----

ApfWriter::ApfWriter() = default;

ApfWriter::~ApfWriter() {
  if (IsOpen()) Abandon();
}

int ApfWriter::Open(const std::string& path) {
  if (IsOpen()) Abandon();
  if (path.empty()) return kErrFileNotFound;
  try {
    buffer_.assign(kApfMaxRecordData, 0);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    // Creating a file fails with ENOENT only when a folder on its path is missing.
    return errno == ENOENT ? kErrPathNotFound : FileErrorFromErrno(errno);
  }
  path_ = path;
  header_ = ApfFileHeader{};
  header_.Signature = kApfSignature;
  header_.FirstPageOffset = kApfFileHeaderSize;
  page_ = ApfPageHeader{};
  pageStarted_ = false;
  buffered_ = 0;
  fileSize_ = 0;
  std::uint8_t raw[kApfFileHeaderSize];
  EncodeFileHeader(header_, raw);
  return WriteRaw(raw, sizeof raw);
}

int ApfWriter::Flush() {
  if (buffered_ == 0) return 0;
  int rc = WriteAll(fd_, buffer_.data(), buffered_);
  buffered_ = 0;
  return rc;
}

// Small pieces are gathered in the buffer; a piece that does not fit tops the
// buffer up, the buffer goes out, whole blocks go out directly, the rest is kept.
int ApfWriter::WriteRaw(const std::uint8_t* data, std::size_t length) {
  if (!IsOpen()) return kErrBadArgument;
  const std::size_t block = buffer_.size();
  fileSize_ += length;
  if (buffered_ + length <= block) {
    std::memcpy(buffer_.data() + buffered_, data, length);
    buffered_ += length;
    return 0;
  }
  std::size_t fill = block - buffered_;
  std::memcpy(buffer_.data() + buffered_, data, fill);
  buffered_ = block;
  if (int rc = Flush(); rc != 0) return rc;
  data += fill;
  length -= fill;
  std::size_t direct = length - length % block;
  if (direct > 0) {
    if (int rc = WriteAll(fd_, data, direct); rc != 0) return rc;
  }
  std::memcpy(buffer_.data(), data + direct, length - direct);
  buffered_ = length - direct;
  return 0;
}

int ApfWriter::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t length) {
  if (int rc = Flush(); rc != 0) return rc;
  return PwriteAll(fd_, offset, data, length);
}

int ApfWriter::WriteLine(const std::uint8_t* data, std::size_t length) {
  if (!IsOpen()) return kErrBadArgument;
  if (length > kApfMaxRecordData) return kErrBadArgument;
  if (!pageStarted_) {
    page_ = ApfPageHeader{0, pageFlags_};
    pageHeaderOffset_ = fileSize_;
    std::uint8_t raw[kApfPageHeaderSize];
    EncodePageHeader(page_, raw);
    if (int rc = WriteRaw(raw, sizeof raw); rc != 0) return rc;
    pageStarted_ = true;
  }
  std::uint8_t word[2] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)};
  if (int rc = WriteRaw(word, 2); rc != 0) return rc;
  if (length > 0) {
    if (int rc = WriteRaw(data, length); rc != 0) return rc;
  }
  page_.DataLength += static_cast<std::uint32_t>(length + 2);
  return 0;
}

int ApfWriter::EndPage() {
  if (!IsOpen()) return kErrBadArgument;
  if (header_.PageCount == std::numeric_limits<std::uint16_t>::max()) return kErrBadArgument;
  if (int rc = WriteLine(kApfEndOfPageRecord.data() + 2, kApfEndOfPageRecord.size() - 2); rc != 0)
    return rc;
  header_.PageCount += 1;
  std::uint8_t raw[kApfPageHeaderSize];
  EncodePageHeader(page_, raw);
  pageStarted_ = false;
  return WriteAt(pageHeaderOffset_, raw, sizeof raw);
}

int ApfWriter::Finish(std::string_view stationId) { return Finish(stationId, DosTimeStampNow()); }

int ApfWriter::Finish(std::string_view stationId, std::uint32_t timeStamp) {
  if (!IsOpen()) return kErrBadArgument;
  SetSenderId(header_, stationId);
  header_.TimeStamp = timeStamp;
  std::uint8_t raw[kApfFileHeaderSize];
  EncodeFileHeader(header_, raw);
  if (int rc = WriteAt(0, raw, sizeof raw); rc != 0) {
    Abandon();
    return rc;
  }
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    int rc = FileErrorFromErrno(errno);
    ::unlink(path_.c_str());
    return rc;
  }
  return 0;
}

void ApfWriter::Abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
  }
  buffered_ = 0;
  pageStarted_ = false;
}

// ---- Join ----

int AppendFaxFile(const std::string& target, const std::string& source) {
  if (target.empty() || source.empty()) return kErrFileNotFound;
  ReadFile src(source);
  if (src.Error() != 0) return src.Error();
  ApfFileHeader srcHeader;
  if (int rc = ReadHeaderFrom(src, srcHeader); rc != 0) return rc;
  std::uint64_t srcSize = 0;
  if (int rc = src.Size(srcSize); rc != 0) return rc;
  if (srcHeader.FirstPageOffset > srcSize) return kErrReadPastEnd;

  int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return FileErrorFromErrno(errno);
  auto fail = [fd](int rc) {
    ::close(fd);
    return rc;
  };
  std::uint8_t raw[kApfFileHeaderSize];
  ssize_t got = ::pread(fd, raw, sizeof raw, 0);
  if (got < 0) return fail(FileErrorFromErrno(errno));
  if (static_cast<std::size_t>(got) < sizeof raw) return fail(kErrNotApf);
  ApfFileHeader header = DecodeFileHeader(raw);
  if (!header.HasSignature()) return fail(kErrNotApf);
  if (static_cast<unsigned>(header.PageCount) + srcHeader.PageCount > 0xFFFF) return fail(kErrBadArgument);

  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) return fail(FileErrorFromErrno(errno));
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (std::uint64_t pos = srcHeader.FirstPageOffset; pos < srcSize;) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), srcSize - pos));
    if (int rc = src.ReadAt(pos, chunk.data(), n); rc != 0) return fail(rc);
    if (int rc = WriteAll(fd, chunk.data(), n); rc != 0) return fail(rc);
    pos += n;
  }
  header.PageCount = static_cast<std::uint16_t>(header.PageCount + srcHeader.PageCount);
  Put16(raw + 32, header.PageCount);  // only the count changes; every other byte stays
  if (int rc = PwriteAll(fd, 32, raw + 32, 2); rc != 0) return fail(rc);
  if (::close(fd) != 0) return FileErrorFromErrno(errno);
  return 0;
}

}  // namespace veltrane::imaging
