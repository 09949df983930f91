// Hostile modems: a send session on virtual time against a modem whose
// answers and frames come from the fuzz input. Every session must end with
// exactly one OnFaxFinish, within bounded virtual time.
//
// Input: byte 0 picks the class (auto, 1, 2, 2.0), byte 1 the options; then
// records of [timing][length][bytes]: timing bits 0-6 delay the record in
// 50 ms steps, bit 7 holds it until the engine has written something since
// the previous record.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "faxengine/fax_components.h"
#include "imaging/apf.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace {

using namespace veltrane;

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
    if (ready_.empty()) Release();
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
  int64_t nextWakeMs(int64_t) const override {
    if (!ready_.empty()) return clock_.nowMs();
    return dueAt_;
  }
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
  // Schedules the next record once the previous one has been read.
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

std::string FixtureApf(bool fine) {
  const std::string path = "/tmp/veltrane-fuzz-send-" + std::to_string(::getpid()) + (fine ? "-f.apf" : "-n.apf");
  static bool made[2] = {false, false};
  if (!made[fine]) {
    imaging::ApfWriter w;
    if (w.Open(path) != 0) std::abort();
    for (int page = 0; page < 2; ++page) {
      w.SetPageFlags(fine ? imaging::pfHighRes : 0);
      for (int i = 0; i < 3; ++i) {
        const uint8_t line[4] = {0x00, 0x80, static_cast<uint8_t>(i), 0x10};
        w.WriteLine(line, sizeof line);
      }
      w.EndPage();
    }
    w.Finish("FUZZ");
    made[fine] = true;
  }
  return path;
}

std::string CoverText() {
  const std::string path = "/tmp/veltrane-fuzz-send-" + std::to_string(::getpid()) + "-cover.txt";
  static bool made = false;
  if (!made) {
    std::ofstream(path) << "To: $R\nPage $P of $N\n";
    made = true;
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const faxengine::TFaxClass kClasses[] = {faxengine::fcDetect, faxengine::fcClass1, faxengine::fcClass2,
                                                  faxengine::fcClass2_0};
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
  if (port.openTransport(std::make_unique<FuzzModem>(clock, std::move(records))) != 0) std::abort();
  int finishes = 0;
  {
    faxengine::TSendFax fax;
    fax.SetComPort(&port);
    fax.FaxClass = kClasses[data[0] & 3];
    fax.PhoneNumber = "5551234";
    fax.FaxFile = FixtureApf(options & 1);
    if (options & 2) fax.CoverFile = CoverText();
    fax.AbortNoConnect = options & 4;
    fax.ExitOnError = options & 8;
    fax.SoftwareFlow = options & 16;
    fax.DialAttempts = (options & 32) ? 0 : 2;
    fax.DialRetryWait = 5;
    fax.DialWait = 20;
    fax.HeaderLine = (options & 64) ? "$D $T $I Page $P of $N" : "";
    fax.DesiredBPS = (options & 128) ? 14400 : 9600;
    fax.OnFaxFinish = [&](faxengine::TCustomAbstractFax&, int) { ++finishes; };
    fax.StartTransmission();
    // Every wait of a session is bounded; with the input used up the
    // session must end by itself well within this much virtual time.
    dispatcher.runUntil([&] { return finishes > 0; }, 6 * 3600 * 1000LL);
    if (finishes != 1) std::abort();
    dispatcher.runUntil([] { return false; }, 1000);  // nothing may follow the finish
  }
  if (finishes != 1) std::abort();
  port.close();
  return 0;
}
