// Runs one TSendFax session against a ScriptedModem on virtual time and
// records what the component reported; builds small APF fixtures.
#pragma once

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "faxengine/fax_components.h"
#include "faxengine/support/scripted_modem.h"
#include "platform/serial/clock.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace veltrane::faxengine::test {

struct PageSpec {
  bool fine = false;
  bool wide = false;
  std::vector<std::vector<uint8_t>> lines;  // records of the page (the end-of-page record is added)
};
// Writes an APF file of record-form pages.
void WriteApf(const std::string& path, const std::vector<PageSpec>& pages);
// A page of `n` short distinct lines (not valid T.4: for dialogues only).
PageSpec SimplePage(int n, bool fine = false);
// A page of six text lines in the fax font, one coded raster row per record.
PageSpec TextPage(int page, bool fine);

std::string TempPath(const std::string& name);

struct SendRecord {
  std::vector<int> errors;
  std::vector<int> logs;
  std::vector<int> statusCodes;  // StatusCode at each status event
  int firstEvents = 0, lastEvents = 0;
  int finishCount = 0;
  int finishCode = INT_MIN;
  int64_t finishedAtMs = -1;
};

class SendHarness {
 public:
  explicit SendHarness(std::vector<Step> script, bool byteByByte = false);
  ~SendHarness();

  TSendFax fax;
  serial::VirtualClock clock;
  // Starts the session and runs the dispatcher until OnFaxFinish or `limitMs` of virtual time.
  void Run(int64_t limitMs = 30 * 60 * 1000);
  // Starts the session, then runs until `until` holds (or the session ends).
  void StartUntil(const std::function<bool()>& until, int64_t limitMs = 10 * 60 * 1000);
  // Runs on until OnFaxFinish.
  void Finish(int64_t limitMs = 10 * 60 * 1000);
  bool TraceHas(const std::string& text) const;
  const SendRecord& Record() const { return record_; }
  ScriptedModem& Modem() { return *modem_; }
  // Engine state changes, commands and answers as the engine traced them.
  const std::vector<std::string>& EngineTrace() const { return engineTrace_; }
  serial::ComPort& Port() { return *port_; }
  serial::Dispatcher& Dispatcher() { return *dispatcher_; }

 private:
  std::unique_ptr<serial::Dispatcher> dispatcher_;
  std::unique_ptr<serial::ComPort> port_;
  ScriptedModem* modem_ = nullptr;
  SendRecord record_;
  std::vector<std::string> engineTrace_;
};

// Compares a transcript with tests/data/faxengine/<name>.txt; with
// VELTRANE_UPDATE_GOLDEN set the file is rewritten instead.
void ExpectGolden(const std::string& name, const std::string& transcript);

}  // namespace veltrane::faxengine::test
