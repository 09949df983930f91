// APF fax files: a 64-byte file header followed by self-delimiting pages.
//
// File header (little-endian, 64 bytes at offset 0):
//   offset size field
//        0    6 Signature        "APF10" 0x1A
//        6    4 TimeStamp        MS-DOS packed date (high 16) and time (low 16); 0 outside 1980..2099
//       10    1 SenderId length  0..20
//       11   20 SenderId text    padded with spaces by our writer
//       31    1 reserved
//       32    2 PageCount
//       34    4 FirstPageOffset  writers store 64; readers use the stored value
//       38   26 reserved
//
// Page header (16 bytes, at the start of every page):
//   offset size field
//        0    4 DataLength       bytes of page data following this header
//        4    2 PageFlags        1 pfHighRes, 2 pfWide (2048 pixels), 4 pfLengthWords (record form)
//        6   10 reserved
//
// The next page header follows at (this header's offset) + 16 + DataLength.
// Record form: u16 length n + n bytes of MH data per record, one raster line per
// record, the last record holding the end-of-page sequence. Stream form: one bit stream.
//
// Every operation returns 0 or a negative error code (see imaging/imaging_errors.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::imaging {

inline constexpr std::size_t kApfFileHeaderSize = 64;
inline constexpr std::size_t kApfPageHeaderSize = 16;
inline constexpr std::size_t kApfSenderIdSize = 20;
inline constexpr std::size_t kApfMaxRecordData = 4096;
inline constexpr std::array<std::uint8_t, 6> kApfSignature = {'A', 'P', 'F', '1', '0', 0x1A};

// Page flags.
inline constexpr std::uint16_t pfHighRes = 1;
inline constexpr std::uint16_t pfWide = 2;
inline constexpr std::uint16_t pfLengthWords = 4;

// The whole end-of-page record our writer puts after the last line of a page:
// length word 12, a 16-bit EOL, six 12-bit EOLs and one zero byte.
inline constexpr std::array<std::uint8_t, 14> kApfEndOfPageRecord = {
    0x0C, 0x00, 0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

struct ApfFileHeader {
  std::array<std::uint8_t, 6> Signature{};
  std::uint32_t TimeStamp = 0;
  std::uint8_t SenderIdLength = 0;
  std::array<char, kApfSenderIdSize> SenderId{};
  std::uint16_t PageCount = 0;
  std::uint32_t FirstPageOffset = 0;

  bool HasSignature() const { return Signature == kApfSignature; }
  // The meaningful characters of SenderId (the length byte is clamped to 20).
  std::string SenderIdText() const;
};

struct ApfPageHeader {
  std::uint32_t DataLength = 0;
  std::uint16_t PageFlags = 0;
};

// Byte-level encode/decode of the two headers (the reserved bytes are written as 0).
void EncodeFileHeader(const ApfFileHeader& h, std::uint8_t out[kApfFileHeaderSize]);
ApfFileHeader DecodeFileHeader(const std::uint8_t in[kApfFileHeaderSize]);
void EncodePageHeader(const ApfPageHeader& h, std::uint8_t out[kApfPageHeaderSize]);
ApfPageHeader DecodePageHeader(const std::uint8_t in[kApfPageHeaderSize]);

// Sender identifier field: first 20 characters, rest spaces.
void SetSenderId(ApfFileHeader& h, std::string_view stationId);
// MS-DOS packed local date and time; 0 outside 1980..2099.
std::uint32_t DosTimeStamp(int year, int month, int day, int hour, int minute, int second);
std::uint32_t DosTimeStampNow();

// File readers. They open read-only and never trust sizes or offsets: a header
// pointing past the end of the file gives an error, not a read of garbage.
bool IsApfFile(const std::string& path);
int ReadFaxHeader(const std::string& path, ApfFileHeader& out);
// Page n counted from 1. dataOffset (optional) receives the file offset of the page data.
int ReadPageHeader(const std::string& path, unsigned pageNumber, ApfPageHeader& out,
                   std::uint64_t* dataOffset = nullptr);

// In-memory view of a whole APF file, for the unpacker, the viewer and the CLI.
struct ApfPageView {
  std::uint16_t PageFlags = 0;
  std::span<const std::uint8_t> Data;  // exactly DataLength bytes, all inside the file
};

// Walks the page headers of an APF file held in memory. Every page header and
// every DataLength is checked against the size of the buffer.
class ApfPageWalker {
 public:
  // 0, kErrNotApf for a bad signature or a header shorter than 64 bytes.
  int Open(std::span<const std::uint8_t> file);
  const ApfFileHeader& Header() const { return header_; }
  unsigned PageCount() const { return header_.PageCount; }
  // Page n counted from 1: kErrNotApf beyond PageCount (or for 0), kErrReadPastEnd
  // when a page header or its data reaches past the end of the buffer.
  int Page(unsigned pageNumber, ApfPageView& out) const;

 private:
  std::span<const std::uint8_t> file_;
  ApfFileHeader header_;
};

// Reads a whole file into memory (bounded by the file's size, of course).
int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out);

// Writes an APF file page by page through a 4096-byte buffer. Any error leaves
// the writer needing Abandon(); the destructor abandons an unfinished file.
class ApfWriter {
 public:
  ApfWriter();
  ~ApfWriter();
  ApfWriter(const ApfWriter&) = delete;
  ApfWriter& operator=(const ApfWriter&) = delete;

  int Open(const std::string& path);
  // Flags for the page headers written from now on (pfLengthWords is always added).
  void SetPageFlags(std::uint16_t flags) { pageFlags_ = flags | pfLengthWords; }
  // One record: the page header goes first when this is the page's first record.
  int WriteLine(const std::uint8_t* data, std::size_t length);
  // End-of-page record, PageCount + 1, page header fixed up with its final DataLength.
  int EndPage();
  // Sender id and time stamp into the header, header rewritten, file closed.
  int Finish(std::string_view stationId);
  int Finish(std::string_view stationId, std::uint32_t timeStamp);
  // Closes and deletes the file.
  void Abandon();

  bool IsOpen() const { return fd_ >= 0; }
  std::uint16_t PageCount() const { return header_.PageCount; }

 private:
  int Flush();
  int WriteRaw(const std::uint8_t* data, std::size_t length);
  int WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t length);

  int fd_ = -1;
  std::string path_;
  ApfFileHeader header_;
  ApfPageHeader page_;
  std::uint16_t pageFlags_ = pfLengthWords;
  bool pageStarted_ = false;
  std::uint64_t pageHeaderOffset_ = 0;
  std::uint64_t fileSize_ = 0;  // bytes written or buffered so far
  std::vector<std::uint8_t> buffer_;
  std::size_t buffered_ = 0;
};

// Appends the pages of source to target; target keeps its SenderId and TimeStamp.
int AppendFaxFile(const std::string& target, const std::string& source);

}  // namespace veltrane::imaging
