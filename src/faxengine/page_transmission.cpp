// Page transmission: reading the fax file page by page, the blank lines and
// header line that start every page, APF and text cover pages, and the paced
// streaming of page data to the port's output buffer.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>

#include "faxengine/send_engine.h"
#include "imaging/imaging_errors.h"
#include "imaging/t4_encode.h"

namespace veltrane::faxengine {

namespace {
constexpr uint8_t kBlankLine[6] = {0, 128, 178, 89, 1, 0};
constexpr std::size_t kBlockSize = 4096;

std::string NowFormatted(const char* format) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}
}  // namespace

std::string ExpandHeaderLine(const std::string& line, const HeaderValues& v) {
  std::string out;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '$' && i + 1 < line.size() && std::isalpha(static_cast<unsigned char>(line[i + 1]))) {
      std::size_t end = line.find(' ', i);
      if (end == std::string::npos) end = line.size();
      switch (std::toupper(static_cast<unsigned char>(line[i + 1]))) {
        case 'D': out += v.date; break;
        case 'T': out += v.time; break;
        case 'I': out += v.stationId; break;
        case 'S': out += v.title; break;
        case 'R': out += v.recipient; break;
        case 'F': out += v.sender; break;
        case 'N': out += std::to_string(v.totalPages); break;
        case 'P': out += std::to_string(v.pageNumber); break;
        default: break;
      }
      i = end;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  if (out.size() > 255) out.resize(255);
  return out;
}

HeaderValues SendFaxEngine::CurrentHeaderValues() const {
  HeaderValues v;
  v.date = NowFormatted("%x");
  v.time = NowFormatted("%X");
  v.stationId = session.stationId;
  v.title = session.headerTitle;
  v.recipient = session.headerRecipient;
  v.sender = session.headerSender;
  v.totalPages = session.pageCount + session.coverCount;
  if (session.coverCount > 0)
    v.pageNumber = session.sendingCover ? 1 : session.currentPage + 1;
  else
    v.pageNumber = session.currentPage;
  return v;
}

// ------------------------------------------------------------- the file --

std::string SendFaxEngine::FullFileName(const std::string& name) const {
  if (name.empty()) return name;
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return hasExtension ? name : name + "." + session.faxFileExt;
}

int SendFaxEngine::OpenFaxFile(const std::string& name) {
  CloseFaxFile();
  openFileName_ = FullFileName(name);
  fd_ = ::open(openFileName_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return imaging::FileErrorFromErrno(errno);
  uint8_t raw[imaging::kApfFileHeaderSize];
  if (::pread(fd_, raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw)) {
    CloseFaxFile();
    return errNotApf;
  }
  fileHeader_ = imaging::DecodeFileHeader(raw);
  if (!fileHeader_.HasSignature()) {
    CloseFaxFile();
    return errNotApf;
  }
  fileOpen_ = true;
  return 0;
}

void SendFaxEngine::CloseFaxFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  fileOpen_ = false;
}

void SendFaxEngine::CloseCoverText() {
  if (coverText_) std::fclose(coverText_);
  coverText_ = nullptr;
}

int SendFaxEngine::SeekPage(int n) {
  if (fd_ < 0) return errPastEnd;
  if (n <= 0 || n > fileHeader_.PageCount) return errPastEnd;
  uint64_t pos = fileHeader_.FirstPageOffset;
  uint8_t raw[imaging::kApfPageHeaderSize];
  for (int i = 0; i < n; ++i) {
    if (::pread(fd_, raw, sizeof raw, static_cast<off_t>(pos)) != static_cast<ssize_t>(sizeof raw))
      return errPastEnd;
    pageHeader_ = imaging::DecodePageHeader(raw);
    pos += sizeof raw;
    if (i + 1 < n) pos += pageHeader_.DataLength;
  }
  readPos_ = pos;
  modem.lineLengths = pageHeader_.PageFlags & imaging::pfLengthWords;
  return 0;
}

int SendFaxEngine::ReadNextBlock(std::size_t& blockLength) {
  blockLength = 0;
  if (modem.lineLengths) {
    uint8_t len[2];
    if (::pread(fd_, len, 2, static_cast<off_t>(readPos_)) != 2) return errPastEnd;
    const std::size_t stored = len[0] | (len[1] << 8);
    const std::size_t n = std::min(stored, kBlockSize);
    if (n > 0 && ::pread(fd_, modem.data.data(), n, static_cast<off_t>(readPos_ + 2)) != static_cast<ssize_t>(n))
      return errPastEnd;
    readPos_ += 2 + n;
    session.bytesTransferred += static_cast<long>(n + 2);
    std::size_t padded = n;
    while (padded < static_cast<std::size_t>(modem.minBytesPerLine) && padded < kBlockSize) modem.data[padded++] = 0;
    blockLength = padded;
    return 0;
  }
  const long remaining = session.pageLength - session.bytesTransferred;
  const std::size_t n = static_cast<std::size_t>(std::min<long>(remaining, kBlockSize));
  const ssize_t got = ::pread(fd_, modem.data.data(), n, static_cast<off_t>(readPos_));
  if (got < 0) return imaging::FileErrorFromErrno(errno);
  if (static_cast<std::size_t>(got) != n) return errPastEnd;
  readPos_ += n;
  session.bytesTransferred += static_cast<long>(n);
  blockLength = n;
  return 0;
}

bool SendFaxEngine::MorePages() const {
  return !session.faxFile.empty() && (session.sendingCover || session.pageCount > session.currentPage);
}

void SendFaxEngine::CheckResolution(bool fine) {
  modem.prevResolution = modem.resolution;
  modem.resolution = fine ? '1' : '0';
  if (modem.prevResolution != ' ' && modem.prevResolution != modem.resolution) RecordError(errMixedRes);
}

int SendFaxEngine::OpenNextPage() {
  if (session.sendingCover) {
    if (modem.apfCover) {
      CloseFaxFile();
      if (int rc = OpenFaxFile(session.faxFile); rc != 0) return rc;
    } else {
      CloseCoverText();
    }
    session.sendingCover = false;
    session.coverFile.clear();
  } else {
    ++session.currentPage;
    session.bytesTransferred = 0;
  }
  if (int rc = SeekPage(session.currentPage); rc != 0) return rc;
  CheckResolution(pageHeader_.PageFlags & imaging::pfHighRes);
  return 0;
}

// ------------------------------------------------------------ writing --

int SendFaxEngine::SendStuffed(const uint8_t* data, std::size_t n) {
  stuffBuffer_.clear();
  for (std::size_t i = 0; i < n; ++i) {
    stuffBuffer_.push_back(static_cast<char>(data[i]));
    if (data[i] == 16) stuffBuffer_.push_back(16);
  }
  // A start-of-page burst (blank lines, a fine header, the top-up) can exceed
  // the room left in the output buffer; wait for the modem to take bytes
  // rather than lose page data.
  const int64_t deadline = Clock().nowMs() + modem.dataTimeout * serial::kMsPerTick;
  while (stuffBuffer_.size() > Port().outBufFree()) {
    if (stuffBuffer_.size() > Port().outSize() || Clock().nowMs() >= deadline || !Port().isOpen())
      return errTimeout;
    const bool previous = Port().setDeliverySuspended(true);
    Port().pumpEvents(20);
    Port().setDeliverySuspended(previous);
  }
  return Port().putBlock(stuffBuffer_.data(), stuffBuffer_.size());
}

int SendFaxEngine::SendPaddedRow(const uint8_t* data, std::size_t n) {
  if (int rc = SendStuffed(data, n); rc < 0) return rc;
  const std::size_t minimum = static_cast<std::size_t>(std::max(modem.minBytesPerLine, 0));
  if (n < minimum) {
    const uint8_t zeros[128] = {};
    if (int rc = SendStuffed(zeros, std::min(minimum - n, sizeof zeros)); rc < 0) return rc;
  }
  session.bytesTransferred += static_cast<long>(std::max(n, minimum));
  return 0;
}

void SendFaxEngine::TopUpOutputBuffer() {
  const std::size_t used = Port().outBufUsed();
  if (used > static_cast<std::size_t>(bufferMinimum)) return;
  std::string zeros(static_cast<std::size_t>(bufferMinimum) - used + 1, '\0');
  Port().putBlock(zeros.data(), zeros.size());
}

int SendFaxEngine::SendBlankLines(int count) {
  uint8_t line[128] = {};
  std::copy(std::begin(kBlankLine), std::end(kBlankLine), line);
  std::size_t n = 6;
  if (modem.minBytesPerLine >= 7) n += std::min<std::size_t>(modem.minBytesPerLine - 5, sizeof line - 6);
  for (int i = 0; i < count; ++i)
    if (int rc = SendStuffed(line, n); rc < 0) return rc;
  return 0;
}

int SendFaxEngine::RenderTextLine(const std::string& text) {
  const std::string cut = text.substr(0, 254);
  imaging::ConverterState& cs = *converter_;
  for (int row = 1; row <= font_->rows; ++row) {
    std::fill(cs.raster.begin(), cs.raster.end(), 0);
    imaging::RasterizeTextRow(*font_, cut, row, std::span<uint8_t>(cs.raster.data(), cs.lineWidth / 8));
    imaging::EncodeRasterLine(cs, cs.raster.data());
    if (int rc = SendPaddedRow(cs.codedLine.data(), static_cast<std::size_t>(cs.byteOffset)); rc < 0) return rc;
  }
  return 0;
}

void SendFaxEngine::DrainInput() {
  uint8_t c;
  while (Port().getChar(c) == 0) {
  }
}

// ------------------------------------------------------------ states --

void SendFaxEngine::StatePageStart() {
  const bool fine = modem.resolution == '1';
  if (int rc = imaging::LoadFaxFont(*font_, "FAXFONT.FNT", imaging::ffSmall, fine); rc != 0)
    return Fail(rc, "fax font missing");
  converter_->useHighRes = fine;
  converter_->lineWidth = (pageHeader_.PageFlags & imaging::pfWide) ? imaging::kLineWidthWide : imaging::kLineWidthNormal;
  int rc = 0;
  if (!headerLine.empty()) {
    const std::string text = ExpandHeaderLine(headerLine, CurrentHeaderValues());
    Trace("header \"" + text + "\"");
    rc = SendBlankLines(8);
    TopUpOutputBuffer();
    if (rc == 0) rc = RenderTextLine(text);
  } else {
    rc = SendBlankLines(8);
  }
  if (rc < 0) return Fail(rc, "page start not written");
  TopUpOutputBuffer();
  const bool cover = session.sendingCover && !session.coverFile.empty();
  SetState(cover ? ssCoverStart : ssPageDataStart, "page started");
}

void SendFaxEngine::StateCoverStart() {
  session.bytesTransferred = 0;
  if (modem.apfCover) {
    CloseFaxFile();
    int rc = OpenFaxFile(session.coverFile);
    if (rc == 0) rc = SeekPage(1);
    if (rc != 0) return Fail(rc, "cover file unreadable");
    return SetState(ssPageDataStart, "APF cover");
  }
  CloseCoverText();
  coverText_ = std::fopen(session.coverFile.c_str(), "rb");
  if (!coverText_) return Fail(imaging::FileErrorFromErrno(errno), "cover text unreadable");
  if (int rc = imaging::LoadFaxFont(*font_, "FAXFONT.FNT", imaging::ffStandard, modem.resolution == '1'); rc != 0)
    return Fail(rc, "fax font missing");
  SetTimeout(modem.dataTimeout);
  ArmOutBufFree(kBlockSize);
  SetStatus(fstSendPage);
  SetState(ssCoverText, "text cover");
}

void SendFaxEngine::StateCoverText(int trigger) {
  if (trigger == session.triggers.timeout) return Fail(errTimeout, "output buffer stalled", true);
  if (trigger != session.triggers.outBufFree) {
    if (trigger == 0) DrainInput();
    return;
  }
  char line[257];
  bool atEnd = false;
  while (Port().outBufFree() > kBlockSize) {
    if (!std::fgets(line, sizeof line - 1, coverText_)) {
      if (std::ferror(coverText_)) return Fail(imaging::kErrReadPastEnd, "cover text read error");
      atEnd = true;
      break;
    }
    std::string text(line);
    const bool whole = !text.empty() && text.back() == '\n';
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!whole) {  // a line longer than 255 characters: the rest is dropped
      int c;
      while ((c = std::fgetc(coverText_)) != EOF && c != '\n') {
      }
    }
    if (int rc = RenderTextLine(ExpandHeaderLine(text, CurrentHeaderValues())); rc < 0)
      return Fail(rc, "cover text not written");
  }
  if (!atEnd) {
    SetTimeout(modem.dataTimeout);
    ArmOutBufFree(kBlockSize);
    return;
  }
  const int n = imaging::BuildEndOfPage(*converter_, modem.data.data());
  int rc = SendStuffed(modem.data.data(), static_cast<std::size_t>(n));
  if (rc == 0 && n <= modem.minBytesPerLine) {
    const std::string zeros(static_cast<std::size_t>(modem.minBytesPerLine - n + 1), '\0');
    rc = Port().putBlock(zeros.data(), zeros.size());
  }
  if (rc == 0 && IsClass1()) {
    rc = Port().putBlock("\x10\x03", 2);
    SetStatus(fstSendPage);
  }
  if (rc < 0) return Fail(rc, "cover text not written");
  SetTimeout(modem.dataTimeout);
  ArmOutBufUsed(0);
  SetState(ssPageDrain, "cover text complete");
}

void SendFaxEngine::StatePageDataStart() {
  session.bytesTransferred = 0;
  session.pageLength = static_cast<long>(pageHeader_.DataLength);
  ForceStatus();
  SetTimeout(modem.dataTimeout);
  ArmOutBufFree(kBlockSize);
  SetState(ssPageData, "page data");
}

void SendFaxEngine::StatePageData(int trigger) {
  if (trigger == session.triggers.timeout) return Fail(errTimeout, "output buffer stalled", true);
  if (trigger != session.triggers.outBufFree) {
    if (trigger == 0) DrainInput();
    return;
  }
  EngineTimer local;
  local.Start(Clock(), SecondsToTicks(3 * session.statusInterval));
  bool complete = false;
  for (int i = 0; i < maxSendCount && Port().outBufUsed() <= static_cast<std::size_t>(bufferMinimum) &&
                  Port().outBufFree() >= kBlockSize;
       ++i) {
    if (local.Expired(Clock())) {
      modem.forceStatus = false;
      SendStatus(false, false);
      Port().setTimerTrigger(session.triggers.statusTimer, SecondsToTicks(session.statusInterval), true);
      local.Start(Clock(), SecondsToTicks(2 * session.statusInterval));
    }
    if (session.bytesTransferred < session.pageLength) {
      std::size_t n = 0;
      int rc = ReadNextBlock(n);
      if (rc == 0) rc = SendStuffed(modem.data.data(), n);
      if (rc < 0) return Fail(rc, "page data not read");
    } else {
      if (IsClass1()) {
        Port().putBlock("\x10\x03", 2);
        SetStatus(fstSendPage);
      }
      complete = true;
      break;
    }
  }
  SetTimeout(modem.dataTimeout);
  if (complete) {
    ArmOutBufUsed(0);
    return SetState(ssPageDrain, "page data complete");
  }
  ArmOutBufFree(kBlockSize);
}

void SendFaxEngine::StatePageDrain(int trigger) {
  if (trigger == session.triggers.timeout) return Fail(errTimeout, "output buffer never drained", true);
  if (trigger != session.triggers.outBufUsed) {
    if (trigger == 0) DrainInput();
    return;
  }
  if (session.options & kOptSoftwareFlow) Port().swFlowDisable();
  if (session.faxClass == fcClass2) {
    Port().putBlock("\x10\x03", 2);
  } else if (IsClass20()) {
    const char end[2] = {16, MorePages() ? ',' : '.'};
    Port().putBlock(end, 2);
  }
  ForceStatus();
  SetStatus(fstSendPage);
  SetState(IsClass1() ? ssC1DataDone : ssPageEnd, "page drained");
}

}  // namespace veltrane::faxengine
