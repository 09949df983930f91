// The file a received fax is written into: an APF file whose pages hold the
// page data in stream form, exactly as it came off the line.
//
// File layout (see imaging/apf.h for the field offsets):
//        0   64 file header     PageCount = pages completed so far
//       64   16 page header 1   DataLength 0 while the page is coming in
//       80    n page data 1
//      ...      page header 2, data 2, ...
//
// The header and the page header are rewritten at every page end, so a file
// whose writer dies mid-page still holds every completed page: readers walk
// only PageCount pages and never reach the unfinished one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "imaging/apf.h"

namespace veltrane::faxengine {

// Limits that no real fax reaches; a remote that goes past them is hostile or
// broken, and the call fails instead of filling the disk.
inline constexpr std::uint32_t kMaxReceivedPageBytes = 16u * 1024 * 1024;
inline constexpr std::uint16_t kMaxReceivedPages = 1000;

class ReceivedFile {
 public:
  ReceivedFile() = default;
  ~ReceivedFile();
  ReceivedFile(const ReceivedFile&) = delete;
  ReceivedFile& operator=(const ReceivedFile&) = delete;

  // Creates (or overwrites) the file and writes its header: SenderId is the
  // remote's ID padded with spaces to 20 characters, PageCount 0.
  int Create(const std::string& path, std::string_view remoteId, std::uint32_t timeStamp);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // Writes a page header with DataLength 0 at the end of the file.
  int BeginPage(std::uint16_t pageFlags);
  // Appends page data; a page growing past kMaxReceivedPageBytes is refused.
  int Append(const std::uint8_t* data, std::size_t n);
  // Completes the current page: PageCount + 1, the file header rewritten with
  // the remote's ID and timeStamp, the page header with its final length.
  int EndPage(std::string_view remoteId, std::uint32_t timeStamp);
  // Drops the current (unfinished) page: the file is cut where it began.
  int DiscardPage();
  // Closes the file; an unfinished page stays outside PageCount.
  void Close();

  bool PageOpen() const { return pageOpen_; }
  std::uint16_t PageCount() const { return header_.PageCount; }
  std::uint32_t PageBytes() const { return pageBytes_; }
  // Where the next page header goes: the end of the last completed page.
  std::uint64_t EndOfFinishedPages() const { return finishedEnd_; }

 private:
  int WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t n);

  int fd_ = -1;
  std::string path_;
  imaging::ApfFileHeader header_;
  std::uint16_t pageFlags_ = 0;
  bool pageOpen_ = false;
  std::uint64_t pageHeaderOffset_ = 0;
  std::uint32_t pageBytes_ = 0;
  std::uint64_t finishedEnd_ = imaging::kApfFileHeaderSize;
};

}  // namespace veltrane::faxengine
