#include "imaging/unpack.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "imaging/imaging_errors.h"
#include "imaging/unpack_source.h"

namespace veltrane::imaging {

namespace {

constexpr std::size_t kInputBlock = 4096;

std::uint16_t ReadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Output pixel j is black when source pixel 2j or 2j + 1 is: each source byte
// gives four pixels.
constexpr std::array<std::uint8_t, 256> MakeHalvingTable() {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    int v = 0;
    for (int pair = 0; pair < 4; ++pair)
      if (b & (0xC0 >> (2 * pair))) v |= 0x8 >> pair;
    t[b] = static_cast<std::uint8_t>(v);
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kHalving = MakeHalvingTable();

bool AllWhite(const std::uint8_t* line, int length) {
  for (int i = 0; i < length; ++i)
    if (line[i]) return false;
  return true;
}

// Compression, inversion, doubling and halving between the walk and the sink.
class LineOutput final : public T4LineReceiver {
 public:
  explicit LineOutput(UnpackerState& state) : s_(state) {}

  int Error() const { return error_; }

  bool Line(const std::uint8_t* line, int length) override {
    s_.lineCounter += 1;
    if (CompressionOn()) {
      if (AllWhite(line, length)) {
        s_.pendingBlankLines += 1;
        return true;
      }
      if (!ReleasePending()) return false;
    }
    return Output(line, length);
  }

  // At the end of a page. With from = to the held-back lines are dropped.
  bool FlushPending() {
    if (!CompressionOn() || s_.whitespaceFrom == s_.whitespaceTo) {
      s_.pendingBlankLines = 0;
      return true;
    }
    return ReleasePending();
  }

 private:
  bool CompressionOn() const { return s_.whitespaceFrom != 0 && s_.whitespaceTo != 0; }

  bool ReleasePending() {
    const int count =
        s_.pendingBlankLines >= s_.whitespaceFrom ? s_.whitespaceTo : s_.pendingBlankLines;
    s_.pendingBlankLines = 0;
    for (int i = 0; i < count; ++i) {
      s_.lineCounter += 1;
      if (!Output(nullptr, 0)) return false;
    }
    return true;
  }

  bool Output(const std::uint8_t* line, int length) {
    const bool highRes = s_.pageHeader.PageFlags & pfHighRes;
    const bool halve = !highRes && (s_.flags & ufHalfWidth) && length > 0;
    if (halve || (s_.invert && length > 0)) {
      std::uint8_t* out = s_.scratch.data();
      if (halve) {
        length /= 2;
        for (int i = 0; i < length; ++i)
          out[i] = static_cast<std::uint8_t>(kHalving[line[2 * i]] << 4 | kHalving[line[2 * i + 1]]);
      } else {
        std::memcpy(out, line, static_cast<std::size_t>(length));
      }
      if (s_.invert)
        for (int i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
      line = out;
    }
    const int copies = !highRes && (s_.flags & ufDoubleHeight) ? 2 : 1;
    for (int i = 0; i < copies; ++i)
      if (!Deliver(line, length)) return false;
    return true;
  }

  bool Deliver(const std::uint8_t* line, int length) {
    if (s_.linesOutput >= kMaxLinesPerPage) return false;
    if (s_.outputSink) {
      const int result = s_.outputSink(s_, kUnpackLine, line, length);
      if (result != 0) {
        error_ = result;
        return false;
      }
    }
    s_.linesOutput += 1;
    return !(s_.flags & ufAbort);
  }

  UnpackerState& s_;
  int error_ = 0;
};

struct PageLocation {
  std::uint64_t dataOffset = 0;
};

int LocatePage(UnpackSource& source, unsigned pageNumber, ApfFileHeader& fileHeader,
               ApfPageHeader& pageHeader, PageLocation& where) {
  std::uint8_t header[kApfFileHeaderSize];
  long got = source.ReadAt(0, header, sizeof header);
  if (got < 0) return static_cast<int>(got);
  if (got < static_cast<long>(sizeof header)) return kErrNotApf;
  fileHeader = DecodeFileHeader(header);
  if (pageNumber == 0) pageNumber = 1;
  if (!fileHeader.HasSignature() || pageNumber > fileHeader.PageCount) return kErrNotApf;
  std::uint64_t offset = fileHeader.FirstPageOffset;
  for (unsigned page = 1;; ++page) {
    std::uint8_t raw[kApfPageHeaderSize];
    got = source.ReadAt(offset, raw, sizeof raw);
    if (got < 0) return static_cast<int>(got);
    if (got < static_cast<long>(sizeof raw)) return kErrReadPastEnd;
    pageHeader = DecodePageHeader(raw);
    offset += kApfPageHeaderSize;
    if (page == pageNumber) break;
    offset += pageHeader.DataLength;
  }
  where.dataOffset = offset;
  return 0;
}

void ReportStatus(UnpackerState& s) {
  if (s.statusHook)
    s.statusHook(s.fileName, s.pageNumber, std::min(s.bytesUnpacked, s.bytesToUnpack),
                 s.bytesToUnpack);
}

// The page's data bytes, read from the source 4096 at a time and never past
// DataLength.
class PageBytes {
 public:
  PageBytes(UnpackSource& source, std::uint64_t offset, std::uint32_t dataLength)
      : source_(source), offset_(offset), unread_(dataLength) {}

  // Bytes of page data not yet handed out.
  std::uint32_t Remaining() const { return unread_ + static_cast<std::uint32_t>(held_ - used_); }

  // Copies up to `count` bytes; fewer only when the file ends early. Returns the
  // number copied or a negative file error.
  long Read(std::uint8_t* out, std::size_t count) {
    std::size_t copied = 0;
    while (copied < count) {
      if (used_ == held_) {
        if (unread_ == 0) break;
        const long got = source_.ReadAt(offset_, raw_.data(), std::min<std::size_t>(raw_.size(), unread_));
        if (got < 0) return got;
        if (got == 0) break;
        offset_ += static_cast<std::uint64_t>(got);
        unread_ -= static_cast<std::uint32_t>(got);
        held_ = static_cast<std::size_t>(got);
        used_ = 0;
      }
      const std::size_t n = std::min(count - copied, held_ - used_);
      std::memcpy(out + copied, raw_.data() + used_, n);
      used_ += n;
      copied += n;
    }
    return static_cast<long>(copied);
  }

 private:
  UnpackSource& source_;
  std::uint64_t offset_;
  std::uint32_t unread_;
  std::array<std::uint8_t, kInputBlock> raw_;
  std::size_t held_ = 0, used_ = 0;
};

struct Block {
  int error = 0;
  bool end = false;  // nothing more to walk: all of the page's bytes used, or an error
  std::size_t size = 0;
};

// Record form: as many whole records as fit in one 4096-byte block, their length
// words left out (the codes run on from one record into the next). A length
// word above 4096 is read as 4096, and no record reaches past DataLength.
// Records cut short by the end of the file give -8001.
class RecordReader {
 public:
  explicit RecordReader(PageBytes& bytes) : bytes_(bytes) {}

  Block Next(std::uint8_t* block, std::uint32_t& bytesUnpacked) {
    std::size_t size = 0;
    for (;;) {
      if (pending_ < 0) {
        if (bytes_.Remaining() < 2) break;  // no room for another length word
        std::uint8_t word[2];
        const long got = bytes_.Read(word, 2);
        if (got < 0) return {static_cast<int>(got), true, 0};
        if (got != 2) return {kErrNotApf, true, 0};
        pending_ = static_cast<long>(
            std::min<std::size_t>({ReadU16(word), kInputBlock, bytes_.Remaining()}));
      }
      if (size + static_cast<std::size_t>(pending_) > kInputBlock) break;
      const long got = bytes_.Read(block + size, static_cast<std::size_t>(pending_));
      if (got < 0) return {static_cast<int>(got), true, 0};
      if (got != pending_) return {kErrNotApf, true, 0};
      size += static_cast<std::size_t>(got);
      bytesUnpacked += static_cast<std::uint32_t>(got + 2);
      pending_ = -1;
    }
    if (size == 0 && pending_ < 0) return {0, true, 0};
    return {0, false, size};
  }

 private:
  PageBytes& bytes_;
  long pending_ = -1;  // length of a record whose length word has been read
};

// Stream form: up to 4096 bytes; page data cut short by the end of the file
// gives -8001.
Block NextStreamBlock(PageBytes& bytes, std::uint8_t* block, std::uint32_t& bytesUnpacked) {
  if (bytes.Remaining() == 0) return {0, true, 0};
  const long got = bytes.Read(block, std::min<std::size_t>(kInputBlock, bytes.Remaining()));
  if (got < 0) return {static_cast<int>(got), true, 0};
  if (got == 0) return {kErrNotApf, true, 0};
  bytesUnpacked += static_cast<std::uint32_t>(got);
  return {0, false, static_cast<std::size_t>(got)};
}

int WalkPageData(UnpackerState& s, UnpackSource& source, std::uint64_t offset,
                 LineOutput& output) {
  T4Walker walker(output);
  walker.SetInvalidCodes(s.invalidCodes);
  PageBytes pageBytes(source, offset, s.bytesToUnpack);
  RecordReader records(pageBytes);
  const bool recordForm = s.pageHeader.PageFlags & pfLengthWords;
  std::array<std::uint8_t, kInputBlock> bytes;
  int result = 0;
  while (!walker.Finished()) {
    const Block block = recordForm ? records.Next(bytes.data(), s.bytesUnpacked)
                                   : NextStreamBlock(pageBytes, bytes.data(), s.bytesUnpacked);
    if (block.end) {
      result = block.error;
      break;
    }
    // Events get their turn once per block, at most every 16 lines.
    if ((s.flags & ufYield) && s.lineCounter % 16 == 0 && s.yieldHook) {
      result = s.yieldHook();
      if (result != 0) break;
    }
    walker.Walk({bytes.data(), block.size});
    if (output.Error() != 0) {
      result = output.Error();
      break;
    }
    if (s.flags & ufAbort) break;
    ReportStatus(s);
  }
  s.invalidCodes = walker.InvalidCodes();
  return result;
}

int DecodePageFrom(UnpackerState& s, UnpackSource& source, unsigned pageNumber) {
  s.lineCounter = 0;
  s.pendingBlankLines = 0;
  s.linesOutput = 0;
  s.pageNumber = pageNumber == 0 ? 1 : pageNumber;
  PageLocation where;
  int result = LocatePage(source, pageNumber, s.fileHeader, s.pageHeader, where);
  if (result != 0) return result;
  s.bytesToUnpack = s.pageHeader.DataLength;
  s.bytesUnpacked = 0;
  LineOutput output(s);
  result = WalkPageData(s, source, where.dataOffset, output);
  if (result == 0 && !output.FlushPending()) result = output.Error();
  ReportStatus(s);
  return result;
}

}  // namespace

int CreateUnpacker(std::unique_ptr<UnpackerState>& out, void* owner, UnpackOutputSink sink) {
  out.reset();
  try {
    auto state = std::make_unique<UnpackerState>();
    T4Tables();  // the code trees, made once
    state->owner = owner;
    state->outputSink = std::move(sink);
    out = std::move(state);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

void SetUnpackerFlags(UnpackerState& state, std::uint16_t flags) {
  constexpr std::uint16_t kScaleModes = ufDoubleHeight | ufHalfWidth;
  if ((flags & kScaleModes) == kScaleModes) return;
  if (flags & kScaleModes) state.flags &= static_cast<std::uint16_t>(~kScaleModes);
  state.flags |= flags;
}

void ClearUnpackerFlags(UnpackerState& state, std::uint16_t flags) {
  state.flags &= static_cast<std::uint16_t>(~flags);
}

int SetWhitespace(UnpackerState& state, int from, int to) {
  if (to > from || (from == 0 && to != 0) || from < 0 || to < 0) return kErrBadArgument;
  state.whitespaceFrom = from;
  state.whitespaceTo = to;
  return 0;
}

void SetScaling(UnpackerState& state, int horizMult, int horizDiv, int vertMult, int vertDiv) {
  state.assembly.horizMult = horizMult;
  state.assembly.horizDiv = horizDiv;
  state.assembly.vertMult = vertMult;
  state.assembly.vertDiv = vertDiv;
}

int DecodePage(UnpackerState& state, const std::string& fileName, unsigned pageNumber) {
  state.fileName = fileName;
  FileUnpackSource source(fileName);
  if (source.OpenError() != 0) return source.OpenError();
  return DecodePageFrom(state, source, pageNumber);
}

int DecodePage(UnpackerState& state, std::span<const std::uint8_t> file, unsigned pageNumber) {
  MemoryUnpackSource source(file);
  return DecodePageFrom(state, source, pageNumber);
}

// Shared with the bitmap decode (unpack_bitmap.cpp).
int DecodePageFromSource(UnpackerState& state, UnpackSource& source, unsigned pageNumber) {
  return DecodePageFrom(state, source, pageNumber);
}

int LocatePageInSource(UnpackSource& source, unsigned pageNumber, ApfFileHeader& fileHeader,
                       ApfPageHeader& pageHeader) {
  PageLocation where;
  return LocatePage(source, pageNumber, fileHeader, pageHeader, where);
}

}  // namespace veltrane::imaging
