#include "modemsim/remote_fax.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "imaging/apf.h"

namespace veltrane::modemsim {

namespace {
constexpr Micros kHangupDelay = 500 * kMs;  // a machine goes on hook shortly after DCN
constexpr std::size_t kMaxPageBytes = 4 * 1024 * 1024;
}  // namespace

bool loadApfPages(const std::string& path, std::vector<Bytes>& pages, bool& fine, std::string& error) {
  std::vector<std::uint8_t> file;
  if (imaging::ReadWholeFile(path, file) != 0) {
    error = "cannot read " + path;
    return false;
  }
  imaging::ApfPageWalker walker;
  if (walker.Open(file) != 0) {
    error = path + " is not an APF file";
    return false;
  }
  pages.clear();
  fine = false;
  for (unsigned n = 1; n <= walker.PageCount(); ++n) {
    imaging::ApfPageView view;
    if (walker.Page(n, view) != 0) {
      error = path + ": page " + std::to_string(n) + " is damaged";
      return false;
    }
    if (n == 1) fine = (view.PageFlags & imaging::pfHighRes) != 0;
    Bytes page;
    if (view.PageFlags & imaging::pfLengthWords) {
      // Record form: a little-endian length before every line.
      std::size_t pos = 0;
      while (pos + 2 <= view.Data.size()) {
        std::size_t len = view.Data[pos] | (view.Data[pos + 1] << 8);
        pos += 2;
        len = std::min(len, view.Data.size() - pos);
        page.insert(page.end(), view.Data.begin() + static_cast<long>(pos),
                    view.Data.begin() + static_cast<long>(pos + len));
        pos += len;
      }
    } else {
      page.assign(view.Data.begin(), view.Data.end());
    }
    pages.push_back(std::move(page));
  }
  return true;
}

bool writeApfPages(const std::string& path, const std::vector<Bytes>& pages, bool fine, bool wide,
                   const std::string& senderId, std::string& error) {
  imaging::ApfFileHeader h;
  h.Signature = imaging::kApfSignature;
  h.TimeStamp = imaging::DosTimeStampNow();
  imaging::SetSenderId(h, senderId);
  h.PageCount = static_cast<std::uint16_t>(pages.size());
  h.FirstPageOffset = imaging::kApfFileHeaderSize;
  std::uint8_t header[imaging::kApfFileHeaderSize];
  imaging::EncodeFileHeader(h, header);
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (const auto& p : pages) {
      imaging::ApfPageHeader ph;
      ph.DataLength = static_cast<std::uint32_t>(p.size());
      ph.PageFlags = static_cast<std::uint16_t>((fine ? imaging::pfHighRes : 0) | (wide ? imaging::pfWide : 0));
      std::uint8_t pageHeader[imaging::kApfPageHeaderSize];
      imaging::EncodePageHeader(ph, pageHeader);
      out.write(reinterpret_cast<const char*>(pageHeader), sizeof pageHeader);
      out.write(reinterpret_cast<const char*>(p.data()), static_cast<std::streamsize>(p.size()));
    }
    if (!out.good()) {
      error = "cannot write " + tmp;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + tmp;
    return false;
  }
  return true;
}

RemoteFax::RemoteFax(TelephoneLine& line, std::string number, RemoteFaxOptions options)
    : line_(line), number_(std::move(number)), options_(std::move(options)),
      callTimer_(line.scheduler()), endTimer_(line.scheduler()) {
  line_.attach(number_, this);
  if (!options_.sendFile.empty() && !options_.callNumber.empty())
    callTimer_.start(options_.callAfter, [this] { call(); });
}

RemoteFax::~RemoteFax() {
  engine_.reset();
  line_.detach(this);
}

void RemoteFax::setPages(std::vector<Bytes> pages, bool fine) {
  pagesToSend_ = std::move(pages);
  pagesFine_ = fine;
}

bool RemoteFax::loadSendFile() {
  if (options_.sendFile.empty()) return !pagesToSend_.empty();
  return loadApfPages(options_.sendFile, pagesToSend_, pagesFine_, error_);
}

void RemoteFax::call() {
  if (engine_ || options_.callNumber.empty()) return;
  if (!loadSendFile() || pagesToSend_.empty()) return;
  calls_.push_back(RemoteCallRecord{});
  calls_.back().sending = true;
  // A fax machine dials fast; it waits up to T1 for the answer.
  line_.dial(this, options_.callNumber, 1 * kSecond, 60 * kSecond);
  engine_ = nullptr;
}

void RemoteFax::onRing(int ringNumber) {
  if (options_.noAnswer || (options_.receiveDir.empty() && !options_.receiveInMemory) || engine_) return;
  if (ringNumber < options_.answerOnRing) return;
  if (!line_.answer(this)) return;
  calls_.push_back(RemoteCallRecord{});
  received_.clear();
  current_.clear();
  startEngine(false);
}

void RemoteFax::onCallResult(CallResult result) {
  if (calls_.empty()) return;
  if (result != CallResult::Answered) {
    calls_.back().hangupCode = hangup::NoAnswer;
    return;
  }
  nextPage_ = 0;
  resends_ = 0;
  startEngine(true);
}

void RemoteFax::startEngine(bool sending) {
  T30Engine::Callbacks cb;
  cb.remoteId = [this](const std::string& id) { calls_.back().remoteId = id; };
  cb.session = [this](const FaxCaps& s) {
    calls_.back().bps = s.bps;
    calls_.back().fine = s.fine;
    calls_.back().wide = s.wide;
  };
  cb.finished = [this](int code) { finished(code); };
  T30Options t30 = options_.t30;
  if (t30.stationId.empty()) t30.stationId = number_;
  if (sending) {
    t30.fine = t30.fine && pagesFine_;
    cb.readyForPage = [this] { sendNextPage(); };
    cb.pageResult = [this](std::uint8_t answer) {
      auto& rec = calls_.back();
      rec.pageAnswers.push_back(answer);
      if (answer == fcf::RTN && resends_ < options_.resendOnRtn) {
        ++resends_;
        return;  // the engine retrains and asks for the same page again
      }
      if (answer != fcf::RTN) rec.pages++;
      resends_ = 0;
      ++nextPage_;
      if (answer == fcf::RTN && nextPage_ >= pagesToSend_.size()) engine_->disconnect();
    };
  } else {
    cb.pageData = [this](const Bytes& d) {
      if (current_.size() + d.size() <= kMaxPageBytes) current_.insert(current_.end(), d.begin(), d.end());
    };
    cb.pageEnded = [this](std::uint8_t postPage) { return pageEnded(postPage); };
  }
  engine_ = std::make_unique<T30Engine>(
      line_.scheduler(), [this](LineSignal s) { line_.transmit(this, std::move(s)); },
      sending ? T30Engine::Role::Transmitter : T30Engine::Role::Receiver, t30, std::move(cb));
  engine_->start();
}

void RemoteFax::sendNextPage() {
  if (nextPage_ >= pagesToSend_.size()) {
    engine_->disconnect();
    return;
  }
  const Bytes& page = pagesToSend_[nextPage_];
  bool last = nextPage_ + 1 == pagesToSend_.size();
  if (options_.dropCarrierOnPage == static_cast<int>(nextPage_) + 1) {
    // Carrier lost mid-page: half the page goes out, then the line drops.
    engine_->pageData(Bytes(page.begin(), page.begin() + static_cast<long>(page.size() / 2)));
    Micros half = byteTime(engine_->sessionCaps().bps >= 12000 ? 145 : 96, page.size() / 2);
    endTimer_.start(half + trainingTime(145), [this] {
      engine_->stop();
      line_.hangup(this);
      finished(hangup::CallDropped);
    });
    return;
  }
  engine_->pageData(page);
  engine_->endPage(last ? fcf::EOP : fcf::MPS);
}

std::uint8_t RemoteFax::pageEnded(std::uint8_t) {
  std::uint8_t answer = options_.t30.pageAnswer;
  if (answer != fcf::RTN) {
    received_.push_back(current_);
    calls_.back().pages = static_cast<int>(received_.size());
    saveReceived();
  }
  current_.clear();
  return answer;
}

void RemoteFax::saveReceived() {
  if (options_.receiveDir.empty() || received_.empty()) return;
  if (fileName_.empty()) {
    namespace fs = std::filesystem;
    for (int n = 1; n <= 9999; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "FAX%04d.APF", n);
      fs::path p = fs::path(options_.receiveDir) / name;
      if (!fs::exists(p)) {
        fileName_ = p.string();
        break;
      }
    }
    if (fileName_.empty()) return;
  }
  const auto& rec = calls_.back();
  if (writeApfPages(fileName_, received_, rec.fine, rec.wide, rec.remoteId, error_))
    calls_.back().file = fileName_;
}

void RemoteFax::finished(int code) {
  if (!calls_.empty() && calls_.back().hangupCode < 0) calls_.back().hangupCode = code;
  fileName_.clear();
  endTimer_.start(kHangupDelay, [this] {
    line_.hangup(this);
    engine_.reset();
  });
}

void RemoteFax::onFarEndHangup() {
  if (!engine_) return;
  // The engine reports through finished(); the call is over already.
  engine_->onFarEndHangup();
}

void RemoteFax::onLineSignal(const LineSignal& s) {
  if (engine_) engine_->onLineSignal(s);
}

}  // namespace veltrane::modemsim
