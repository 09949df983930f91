// Hostile callers: a receive session on virtual time against a modem whose
// answers, frames and page data come from the fuzz input. The session must
// end (by itself, or at once when aborted once the input is used up), with
// exactly one OnFaxFinish; every file it leaves must be a readable APF file
// within the page caps; and no station ID may reach an event unclean.
//
// Input: byte 0 picks the class (auto, 1, 2, 2.0), byte 1 the options; then
// records of [timing][length][bytes]: timing bits 0-6 delay the record in
// 50 ms steps, bit 7 holds it until the engine has written something after
// reading the previous record.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "faxengine/receive_fax.h"
#include "imaging/apf.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace {

using namespace veltrane;
namespace fs = std::filesystem;

struct Record {
  int64_t delayMs;
  bool afterWrite;
  std::string bytes;
};

class FuzzModem : public serial::Transport {
 public:
  FuzzModem(serial::Clock& clock, std::deque<Record> records) : clock_(clock), records_(std::move(records)) {
    Release();
  }
  std::string name() const override { return "fuzz modem"; }
  long read(uint8_t* dst, std::size_t max) override {
    std::size_t n = 0;
    while (n < max && !ready_.empty()) {
      dst[n++] = static_cast<uint8_t>(ready_.front());
      ready_.pop_front();
    }
    if (n > 0 && ready_.empty()) {
      // Only what the engine writes after reading a record answers to it.
      wrote_ = false;
      Release();
    }
    return static_cast<long>(n);
  }
  long write(const uint8_t*, std::size_t n) override {
    wrote_ = true;
    Release();
    return static_cast<long>(n);
  }
  int setLine(const serial::LineSettings&) override { return 0; }
  int setHardwareFlow(const serial::HardwareFlow&) override { return 0; }
  int setDtr(bool) override { return 0; }
  int setRts(bool) override { return 0; }
  serial::ModemStatus modemStatus() override { return {true, true, true, false, false}; }
  int64_t nextWakeMs(int64_t) const override { return ready_.empty() ? dueAt_ : clock_.nowMs(); }
  void advance(int64_t now) override {
    if (ready_.empty() && pending_ && now >= dueAt_) {
      ready_.insert(ready_.end(), pending_->bytes.begin(), pending_->bytes.end());
      pending_.reset();
      dueAt_ = serial::kNever;
      Release();
    }
  }
  bool hasInput() const override { return !ready_.empty(); }

 private:
  void Release() {
    if (pending_ || records_.empty() || !ready_.empty()) return;
    if (records_.front().afterWrite && !wrote_) return;
    wrote_ = false;
    pending_ = std::make_unique<Record>(records_.front());
    records_.pop_front();
    dueAt_ = clock_.nowMs() + pending_->delayMs;
  }

  serial::Clock& clock_;
  std::deque<Record> records_;
  std::deque<char> ready_;
  std::unique_ptr<Record> pending_;
  int64_t dueAt_ = serial::kNever;
  bool wrote_ = false;
};

void CheckStationId(const std::string& id) {
  if (id.size() > 20) std::abort();
  for (char c : id)
    if (c < 32 || c > 126 || c == '"') std::abort();
}

// Every file the session left must read as APF, every counted page inside it.
void CheckFiles(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::vector<uint8_t> bytes;
    if (imaging::ReadWholeFile(entry.path().string(), bytes) != 0) std::abort();
    imaging::ApfPageWalker walker;
    if (walker.Open(bytes) != 0) std::abort();
    if (walker.PageCount() > faxengine::kMaxReceivedPages) std::abort();
    for (unsigned n = 1; n <= walker.PageCount(); ++n) {
      imaging::ApfPageView page;
      if (walker.Page(n, page) != 0) std::abort();
      if (page.Data.size() > faxengine::kMaxReceivedPageBytes) std::abort();
    }
    CheckStationId(walker.Header().SenderIdText());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const faxengine::TFaxClass kClasses[] = {faxengine::fcDetect, faxengine::fcClass1, faxengine::fcClass2,
                                                  faxengine::fcClass2_0};
  static const fs::path dir = fs::temp_directory_path() / ("veltrane-fuzz-receive-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);

  const uint8_t options = data[1];
  std::deque<Record> records;
  for (size_t i = 2; i + 2 <= size;) {
    Record r;
    r.delayMs = (data[i] & 0x7F) * 50;
    r.afterWrite = data[i] & 0x80;
    const size_t len = std::min<size_t>(data[i + 1], size - i - 2);
    r.bytes.assign(reinterpret_cast<const char*>(data + i + 2), len);
    records.push_back(std::move(r));
    i += 2 + len;
  }

  serial::VirtualClock clock;
  serial::Dispatcher dispatcher(clock);
  serial::ComPort port(dispatcher);
  auto modem = std::make_unique<FuzzModem>(clock, std::move(records));
  if (port.openTransport(std::move(modem)) != 0) std::abort();
  int finishes = 0;
  {
    faxengine::TReceiveFax fax;
    fax.SetComPort(&port);
    fax.FaxClass = kClasses[data[0] & 3];
    fax.DestinationDir = dir.string();
    fax.StationID = "FUZZ RECEIVER";
    fax.OneFax = options & 1;
    fax.ExitOnError = options & 2;
    fax.SoftwareFlow = options & 4;
    fax.ConstantStatus = options & 8;
    fax.AnswerOnRing = 1 + ((options >> 4) & 1);
    fax.ReceivedFileNaming = (options & 32) ? faxengine::rnDate : faxengine::rnSequence;
    const bool reject = options & 64;
    fax.OnFaxAccept = [&](faxengine::TCustomAbstractFax& cp, bool& accept) {
      CheckStationId(cp.RemoteID());
      accept = !reject;
    };
    fax.OnFaxStatus = [&](faxengine::TCustomAbstractFax& cp, bool, bool) { CheckStationId(cp.RemoteID()); };
    fax.OnFaxLog = [&](faxengine::TCustomAbstractFax& cp, faxengine::TFaxLogCode) {
      CheckStationId(cp.RemoteID());
      for (char c : cp.FaxFile)
        if (static_cast<unsigned char>(c) < 32) std::abort();
    };
    fax.OnFaxFinish = [&](faxengine::TCustomAbstractFax&, int) { ++finishes; };
    // VELTRANE_FUZZ_TRACE=1 shows what a reproducer did.
    if (std::getenv("VELTRANE_FUZZ_TRACE"))
      fax.ReceiveEngine()->SetTraceHook([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    fax.StartReception();
    // A session without OneFax waits for calls for ever: once the input has
    // had its say, the user's abort must end it at once.
    dispatcher.runUntil([&] { return finishes > 0; }, 6 * 3600 * 1000LL);
    if (finishes == 0) {
      fax.AbortFax();
      dispatcher.runUntil([&] { return finishes > 0; }, 60 * 1000);
    }
    if (finishes != 1) std::abort();
    dispatcher.runUntil([] { return false; }, 1000);  // nothing may follow the finish
  }
  if (finishes != 1) std::abort();
  port.close();
  CheckFiles(dir);
  return 0;
}
