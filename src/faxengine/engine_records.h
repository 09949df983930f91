// The records an engine keeps for its session: what both directions share
// (FaxSessionData) and the modem dialogue's data (FaxModemData). The send and
// receive engines add their own parts.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "faxengine/fax_codes.h"
#include "faxengine/fax_ticks.h"

namespace veltrane::faxengine {

// Option bits of FaxSessionData::options.
inline constexpr unsigned kOptAbortNoConnect = 1u << 0;
inline constexpr unsigned kOptExitOnError = 1u << 1;
inline constexpr unsigned kOptSoftwareFlow = 1u << 3;

inline constexpr long kCommandTimeoutTicks = 182;  // 10 s
inline constexpr long kDataTimeoutTicks = 1092;    // 60 s
inline constexpr std::size_t kResponseMax = 128;
inline constexpr std::size_t kDataBufferSize = 4096;

// Trigger handles taken from the port at session start.
struct FaxTriggers {
  int dataAvailable = 0;  // always handle 0
  int statusTimer = -1;
  int timeout = -1;
  int outBufFree = -1;
  int outBufUsed = -1;
  int modemStatus = -1;  // allocated but not used
};

struct FaxSessionData {
  FaxTriggers triggers;
  long statusInterval = 1;  // seconds
  int portHandle = 0;
  bool sending = false;
  bool sendingCover = false;
  bool prepared = false;
  int dialAttempts = 3;
  int dialAttempt = 0;  // counts failed dials of this fax
  long dialRetryWait = 1092;  // ticks
  unsigned options = 0;
  int statusCode = 0;
  int lastError = 0;
  int currentPage = 0;
  int pageCount = 0;
  int coverCount = 0;
  long bytesTransferred = 0;
  long pageLength = 0;
  TFaxClass faxClass = fcUnknown;
  std::string stationId;
  std::string remoteId;
  std::string destinationDir;
  std::string faxFileExt = "APF";
  std::string faxFile;
  std::string coverFile;
  std::string phoneNumber;
  std::string headerTitle;
  std::string headerRecipient;
  std::string headerSender;
};

// Two-byte pattern watcher for CR LF and DLE ETX.
struct TerminatorMatcher {
  uint8_t first;
  uint8_t second;
  int position = 0;

  // True when the byte completes the pattern.
  bool Feed(uint8_t byte);
};

// Class 2 / 2.0 command and response stems.
struct Class2Table {
  std::string selectClass, modelQuery, makerQuery, revisionQuery, capabilities;
  std::string localId, parameters;
  std::string connectReport, remoteCapsReport, sessionReport, tsiReport, csiReport, pageStatusReport;
  std::string hangupCode;
};

struct FaxModemData {
  bool forceStatus = false;
  bool lastFrameFinal = false;
  // Negotiated session.
  int connectBps = 0;
  bool fineResolution = false;
  bool widePage = false;
  bool errorControl = false;
  bool remoteFine = false;
  bool remoteWide = false;
  // Dial options.
  bool toneDial = true;
  bool blindDial = false;
  bool detectBusy = true;
  bool lineLengths = false;
  bool apfCover = false;
  bool modemInitialised = false;
  bool atInitBaud = false;
  bool cfrReceived = false;
  char desiredEcm = '0';
  char faxAndData = '0';
  char resolution = ' ';      // '0' normal, '1' fine, ' ' no page yet
  char prevResolution = ' ';
  int scanTimeCode = 0;
  int lastFcf = 0;
  TerminatorMatcher crlf{13, 10};
  TerminatorMatcher dleEtx{16, 3};
  long commandTimeout = kCommandTimeoutTicks;
  long dataTimeout = kDataTimeoutTicks;
  int desiredBps = 9600;
  int speedIndex = 1;
  int minBytesPerLine = 0;
  int hangupCode = 0;
  int postPageRetries = 0;
  long dialWait = 1092;  // ticks
  int answerOnRing = 1;
  int ringCount = 0;
  int normalBaud = 0;
  int initBaud = 0;
  std::array<uint8_t, kDataBufferSize> data{};
  std::size_t dataCount = 0;
  Class2Table c2;
  std::string initString = "ATE0Q0V1X4S0=0S2=43";
  std::string modemInit;
  std::string dialPrefix;
  std::string modulation = "24";
  std::string response;
  EngineTimer commandTimer;
  std::array<bool, 7> localSpeeds{};   // indexes 1..6
  std::array<bool, 7> remoteSpeeds{};  // indexes 1..6
};

// Speed index (1..6) tables.
int RateOfIndex(int index);
const char* ModulationOfIndex(int index);
// Rate digit of the Class 2/2.0 parameter commands for a rate ('3' for unlisted rates).
char RateDigit(int bps);
int RateFromDigit(char digit);

}  // namespace veltrane::faxengine
