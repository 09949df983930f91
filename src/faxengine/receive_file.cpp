#include "faxengine/receive_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "faxengine/fax_codes.h"
#include "imaging/imaging_errors.h"

namespace veltrane::faxengine {
namespace {

void SetSenderText(imaging::ApfFileHeader& h, std::string_view id) {
  const std::size_t n = std::min(id.size(), imaging::kApfSenderIdSize);
  std::copy_n(id.begin(), n, h.SenderId.begin());
  h.SenderIdLength = static_cast<std::uint8_t>(n);
}

}  // namespace

ReceivedFile::~ReceivedFile() { Close(); }

int ReceivedFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    ssize_t put = ::pwrite(fd_, data, n, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return imaging::FileErrorFromErrno(errno);
    if (put == 0) return errShortWrite;
    data += put;
    offset += static_cast<std::uint64_t>(put);
    n -= static_cast<std::size_t>(put);
  }
  return 0;
}

int ReceivedFile::Create(const std::string& path, std::string_view remoteId, std::uint32_t timeStamp) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return imaging::FileErrorFromErrno(errno);
  path_ = path;
  header_ = imaging::ApfFileHeader{};
  header_.Signature = imaging::kApfSignature;
  header_.TimeStamp = timeStamp;
  header_.SenderId.fill(' ');
  SetSenderText(header_, remoteId);
  header_.SenderIdLength = imaging::kApfSenderIdSize;
  header_.FirstPageOffset = imaging::kApfFileHeaderSize;
  pageOpen_ = false;
  pageBytes_ = 0;
  finishedEnd_ = imaging::kApfFileHeaderSize;
  std::uint8_t bytes[imaging::kApfFileHeaderSize];
  imaging::EncodeFileHeader(header_, bytes);
  int rc = WriteAt(0, bytes, sizeof bytes);
  if (rc != 0) Close();
  return rc;
}

int ReceivedFile::BeginPage(std::uint16_t pageFlags) {
  if (fd_ < 0) return imaging::kErrAccessDenied;
  if (header_.PageCount >= kMaxReceivedPages) return errMidSession;
  // A page started twice (a resent page after a cut, say) starts afresh.
  pageOpen_ = true;
  pageFlags_ = static_cast<std::uint16_t>(pageFlags & (imaging::pfHighRes | imaging::pfWide));
  pageHeaderOffset_ = finishedEnd_;
  pageBytes_ = 0;
  std::uint8_t bytes[imaging::kApfPageHeaderSize];
  imaging::EncodePageHeader({0, pageFlags_}, bytes);
  return WriteAt(pageHeaderOffset_, bytes, sizeof bytes);
}

int ReceivedFile::Append(const std::uint8_t* data, std::size_t n) {
  if (fd_ < 0 || !pageOpen_) return imaging::kErrAccessDenied;
  if (n > kMaxReceivedPageBytes - pageBytes_) return errMidSession;
  int rc = WriteAt(pageHeaderOffset_ + imaging::kApfPageHeaderSize + pageBytes_, data, n);
  if (rc == 0) pageBytes_ += static_cast<std::uint32_t>(n);
  return rc;
}

int ReceivedFile::EndPage(std::string_view remoteId, std::uint32_t timeStamp) {
  if (fd_ < 0 || !pageOpen_) return imaging::kErrAccessDenied;
  // The page header first: a header that counts a page must never point at a
  // page whose length is still 0.
  std::uint8_t page[imaging::kApfPageHeaderSize];
  imaging::EncodePageHeader({pageBytes_, pageFlags_}, page);
  int rc = WriteAt(pageHeaderOffset_, page, sizeof page);
  if (rc != 0) return rc;
  pageOpen_ = false;
  finishedEnd_ = pageHeaderOffset_ + imaging::kApfPageHeaderSize + pageBytes_;
  ++header_.PageCount;
  header_.TimeStamp = timeStamp;
  SetSenderText(header_, remoteId);
  std::uint8_t bytes[imaging::kApfFileHeaderSize];
  imaging::EncodeFileHeader(header_, bytes);
  return WriteAt(0, bytes, sizeof bytes);
}

int ReceivedFile::DiscardPage() {
  if (fd_ < 0) return imaging::kErrAccessDenied;
  pageOpen_ = false;
  pageBytes_ = 0;
  if (::ftruncate(fd_, static_cast<off_t>(finishedEnd_)) != 0) return imaging::FileErrorFromErrno(errno);
  return 0;
}

void ReceivedFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pageOpen_ = false;
}

}  // namespace veltrane::faxengine
