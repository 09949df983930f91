// A virtual remote fax machine on the telephone line. It runs T.30 itself:
// it answers and receives into APF files, or calls and sends the pages of an
// APF file, with the options and faults a test needs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "modemsim/line.h"
#include "modemsim/t30_engine.h"

namespace veltrane::modemsim {

struct RemoteFaxOptions {
  T30Options t30;
  std::string receiveDir;        // answer calls and store each fax here as FAXnnnn.APF
  bool receiveInMemory = false;  // answer calls and keep the pages only in memory
  std::string sendFile;          // APF file this machine sends when it calls
  std::string callNumber;        // with sendFile: the number it calls
  Micros callAfter = 2 * kSecond;
  int answerOnRing = 1;
  bool noAnswer = false;         // lets it ring
  bool busy = false;             // callers get BUSY
  int dropCarrierOnPage = 0;     // sending: the carrier is lost halfway through this page
  int resendOnRtn = 1;           // sending: how often a page answered with RTN is sent again
};

struct RemoteCallRecord {
  bool sending = false;
  int hangupCode = -1;
  int pages = 0;                 // pages received, or pages confirmed by MCF/RTP
  int bps = 0;
  bool fine = false, wide = false;
  std::string remoteId;
  std::string file;              // received APF file
  std::vector<std::uint8_t> pageAnswers;  // sending: MCF/RTP/RTN per page sent
};

class RemoteFax : public LineEndpoint {
 public:
  RemoteFax(TelephoneLine& line, std::string number, RemoteFaxOptions options);
  ~RemoteFax() override;

  // Places the call to callNumber now (also scheduled by callAfter when a send file is set).
  void call();
  // Pages to send given directly (stream-form T.4, line bit order), instead of a file.
  void setPages(std::vector<Bytes> pages, bool fine);

  const std::vector<RemoteCallRecord>& calls() const { return calls_; }
  // Pages of the last received fax, as received.
  const std::vector<Bytes>& receivedPages() const { return received_; }
  bool callActive() const { return engine_ != nullptr; }
  std::string lastError() const { return error_; }

  std::string label() const override { return "remote " + number_; }
  bool offHook() const override { return options_.busy || engine_ != nullptr; }
  void onRing(int ringNumber) override;
  void onCallResult(CallResult result) override;
  void onFarEndHangup() override;
  void onLineSignal(const LineSignal& signal) override;

 private:
  void startEngine(bool sending);
  void finished(int code);
  void sendNextPage();
  std::uint8_t pageEnded(std::uint8_t postPage);
  bool loadSendFile();
  void saveReceived();

  TelephoneLine& line_;
  std::string number_;
  RemoteFaxOptions options_;
  std::unique_ptr<T30Engine> engine_;
  Timer callTimer_;
  Timer endTimer_;
  std::vector<RemoteCallRecord> calls_;
  std::vector<Bytes> pagesToSend_;
  bool pagesFine_ = false;
  std::size_t nextPage_ = 0;
  int resends_ = 0;
  Bytes current_;
  std::vector<Bytes> received_;
  std::string error_;
  std::string fileName_;
};

// Reads an APF file into stream-form pages (record-form pages are joined); false on error.
bool loadApfPages(const std::string& path, std::vector<Bytes>& pages, bool& fine, std::string& error);
// Writes stream-form pages as an APF file (temporary file + rename).
bool writeApfPages(const std::string& path, const std::vector<Bytes>& pages, bool fine, bool wide,
                   const std::string& senderId, std::string& error);

}  // namespace veltrane::modemsim
