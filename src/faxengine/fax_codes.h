// Codes shared by the fax components and their engines: fax classes, history
// log codes, status codes, error codes and the messages through which an
// engine reaches its component.
#pragma once

#include <string>

namespace veltrane::faxengine {

enum TFaxClass { fcUnknown = 0, fcDetect = 1, fcClass1 = 2, fcClass2 = 3, fcClass2_0 = 4 };

enum TFaxLogCode {
  lcTransmitStart = 1,
  lcTransmitOk = 2,
  lcTransmitFail = 3,
  lcReceiveStart = 4,
  lcReceiveOk = 5,
  lcReceiveSkip = 6,
  lcReceiveFail = 7,
};

// Status codes.
inline constexpr int fstInitModem = 1;
inline constexpr int fstDialing = 2;
inline constexpr int fstBusyWait = 3;
inline constexpr int fstSendPage = 4;
inline constexpr int fstSendPageEnd = 5;
inline constexpr int fstPageError = 6;
inline constexpr int fstPageOk = 7;
inline constexpr int fstWaitCall = 20;
inline constexpr int fstNoConnect = 21;
inline constexpr int fstAnswer = 22;
inline constexpr int fstIncomingFax = 23;
inline constexpr int fstGetPage = 24;
inline constexpr int fstGetPageEnd = 25;
inline constexpr int fstGetDocEnd = 26;
inline constexpr int fstGetHangup = 27;
inline constexpr int fstGotHangup = 28;
inline constexpr int fstSessionParams = 40;
inline constexpr int fstRemoteID = 41;
inline constexpr int fstAbort = 42;
inline constexpr int fstFinished = 43;

// Error codes: negative ones are the engine's, 1..199 file input/output errors.
inline constexpr int errNoMemory = -8;
inline constexpr int errPastEnd = -100;
inline constexpr int errShortWrite = -160;
inline constexpr int errPortNotAssigned = -1005;
inline constexpr int errInternal = -1006;
inline constexpr int errCannotUseWithWinSock = -1009;
inline constexpr int errOutputBufferTooSmall = -3006;
inline constexpr int errNoTriggers = -5001;
inline constexpr int errCancel = -6005;
inline constexpr int errTimeout = -6006;
inline constexpr int errNoFiles = -6010;
inline constexpr int errRejected = -6011;
inline constexpr int errNotApf = -8001;
inline constexpr int errIncompatible = -8070;
inline constexpr int errBadResponse = -8071;
inline constexpr int errTrainFail = -8072;
inline constexpr int errInitFail = -8073;
inline constexpr int errBusy = -8074;
inline constexpr int errVoice = -8075;
inline constexpr int errDataCall = -8076;
inline constexpr int errNoDialTone = -8077;
inline constexpr int errNoConnect = -8078;
inline constexpr int errMidSession = -8079;
inline constexpr int errPageEnd = -8080;
inline constexpr int errMixedRes = -8082;

// Messages from an engine to its component.
inline constexpr int FaxMsgCancel = 0x7EA0;
inline constexpr int FaxMsgNextFile = 0x7EA1;
inline constexpr int FaxMsgStatus = 0x7EA2;
inline constexpr int FaxMsgLog = 0x7EA3;
inline constexpr int FaxMsgName = 0x7EA4;
inline constexpr int FaxMsgAccept = 0x7EA5;
inline constexpr int FaxMsgError = 0x7EA6;
inline constexpr int FaxMsgFinish = 0x7EA7;

// Text of a status code; empty outside the known codes.
std::string StatusMsg(int code);
// Text of an error code, looked up by the string-table id the code maps to.
std::string ErrorText(int code);
// The string-table id of an error code (11800 + v for |v| in 100..199, else
// 11000 + (v mod 1000) + (v div 1000) * 100 with v = |code|).
int ErrorStringId(int code);

}  // namespace veltrane::faxengine
