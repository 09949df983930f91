// Class 1 receiving: the engine answers as the called station of T.30,
// sending CSI and DIS, checking the training, confirming pages with MCF and
// waiting for the caller's DCN.
#include <cstdio>

#include "faxengine/receive_engine.h"
#include "faxengine/send_engine.h"

namespace veltrane::faxengine {
namespace {

// DIS speed bits (byte 2) by speed index.
constexpr uint8_t kDisSpeedBits[7] = {0, 0, 8, 12, 12, 20, 36};

}  // namespace

std::array<uint8_t, 4> BuildDis(int speedIndex) {
  const int idx = (speedIndex >= 1 && speedIndex <= 6) ? speedIndex : 1;
  return {0, static_cast<uint8_t>(2 + 64 + kDisSpeedBits[idx]), 249, 0};
}

// ------------------------------------------------------------- frames --

void ReceiveFaxEngine::WriteFrameStart(bool final) {
  Pause(20);
  const uint8_t head[2] = {255, static_cast<uint8_t>(final ? 19 : 3)};
  Port().putBlock(head, 2);
}

void ReceiveFaxEngine::WriteFrameEnd() {
  const uint8_t tail[2] = {kDle, kEtx};
  Port().putBlock(tail, 2);
}

// Frame bytes with every DLE doubled, so the modem never sees an early end.
void ReceiveFaxEngine::WriteFrameBody(const uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    Port().putChar(data[i]);
    if (data[i] == kDle) Port().putChar(kDle);
  }
}

void ReceiveFaxEngine::WriteSingleFrame(uint8_t fcf) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02X", fcf);
  Trace(std::string("> frame ") + hex);
  WriteFrameStart(true);
  Port().putChar(fcf);
  WriteFrameEnd();
}

void ReceiveFaxEngine::WriteCsi() {
  auto field = BuildStationField(session.stationId);
  Trace("> frame CSI \"" + session.stationId + "\"");
  WriteFrameStart(false);
  Port().putChar(kFcfCsi);
  WriteFrameBody(field.data(), field.size());
  WriteFrameEnd();
}

void ReceiveFaxEngine::WriteDis() {
  auto fif = BuildDis(modem.speedIndex);
  Trace("> frame DIS at " + std::to_string(RateOfIndex(modem.speedIndex)));
  WriteFrameStart(true);
  Port().putChar(kFcfDis);
  WriteFrameBody(fif.data(), fif.size());
  WriteFrameEnd();
}

void ReceiveFaxEngine::ProcessDcs(const uint8_t fif[4]) {
  const DcsSpeed speed = SpeedOfDcs(fif[1]);
  modem.speedIndex = speed.index;
  modem.connectBps = RateOfIndex(speed.index);
  modem.modulation = speed.modulation;
  modem.fineResolution = fif[1] & 64;
  modem.widePage = (fif[2] & 3) == 1;
  modem.errorControl = false;
  modem.scanTimeCode = ScanTimeCodeOf(fif[2]);
  RecomputeMinBytes();
}

// Called by the response collector when DLE ETX ends a frame.
void ReceiveFaxEngine::FrameReceived() {
  std::string& r = modem.response;
  std::size_t start = 0;
  // Whatever came before the address byte is line noise, not frame.
  while (r.size() - start > 1 && static_cast<uint8_t>(r[start]) != 255) ++start;
  const auto byte = [&](std::size_t i) -> uint8_t {
    return start + i < r.size() ? static_cast<uint8_t>(r[start + i]) : 0;
  };
  modem.lastFrameFinal = byte(1) & 16;
  const uint8_t fcf = byte(2);
  modem.lastFcf = fcf;
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02X", fcf);
  Trace(std::string("< frame ") + hex);
  switch (fcf & 0xFE) {
    case 64:
    case 66: {
      std::string id;
      for (int i = 20; i >= 1; --i) id.push_back(static_cast<char>(byte(2 + i)));
      session.remoteId = CleanRemoteStationId(id);
      SetStatus(fstRemoteID);
      ForceStatus();
      break;
    }
    case 130: {
      const uint8_t fif[4] = {byte(3), byte(4), byte(5), byte(6)};
      ProcessDcs(fif);
      SetStatus(fstSessionParams);
      ForceStatus();
      break;
    }
    case 68:
      ClearResponse();
      Pause(200);
      FrameCommand("AT+FRH=3");
      if (state_ != rsAbort) SetState(rsC1WaitDcs, "FTT");
      return;
    case 250:
      ClearResponse();
      if (state_ == rsC1WaitDcn) {
        session.lastError = 0;
        return;
      }
      return Fail(errCancel, "remote sent DCN");
    default: break;
  }
  ClearResponse();
}

// ------------------------------------------------------------- states --

void ReceiveFaxEngine::StateC1SendCsi() {
  if (RespConnect()) {
    WriteCsi();
    ClearResponse();
    return SetState(rsC1SendDis, "CSI sent");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1SendDis() {
  if (RespConnect()) {
    WriteDis();
    return ClearResponse();
  }
  if (RespOk()) {
    Pause(200);
    Pause(200);
    FrameCommand("AT+FRH=3");
    if (state_ != rsC1SendDis) return;
    SetTimeout(54);
    return SetState(rsC1WaitDcs, "DIS sent");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1WaitDcs() {
  if (RespConnect()) return ClearResponse();
  if (RespOk()) {
    if (!modem.lastFrameFinal) return FrameCommand("AT+FRH=3");
    modem.lastFrameFinal = false;
    if (session.options & kOptSoftwareFlow) Port().swFlowEnable(6144, 2048, 2);
    FrameCommand("AT+FRM=" + modem.modulation);
    if (state_ != rsC1WaitDcs) return;
    modem.commandTimer.Start(Clock(), modem.commandTimeout);
    return SetState(rsC1WaitTcf, "DCS received");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1DisRetry() {
  if (++disRetries_ > 3) return Fail(errTimeout, "no DCS after three DIS");
  Command("AT\r");
  if (state_ == rsC1DisRetry) SetState(rsC1DisResend, "resending the DIS");
}

void ReceiveFaxEngine::StateC1DisResend() {
  FrameCommand("AT+FTH=3");
  if (state_ == rsC1DisResend) SetState(rsC1SendCsi, "CSI and DIS again");
}

void ReceiveFaxEngine::StateC1WaitTcf() {
  if (RespConnect()) {
    tcfBytes_ = 0;
    tcfNonZero_ = 0;
    tcfDle_ = false;
    modem.commandTimer.Start(Clock(), modem.commandTimeout);
    SetTimeout(modem.commandTimeout + 1);
    ForgetAnswer();
    return SetState(rsC1GetTcf, "training check follows");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::TcfDone() {
  Trace("TCF " + std::to_string(tcfNonZero_) + " non-zero of " + std::to_string(tcfBytes_));
  if (TcfAcceptable(tcfNonZero_, tcfBytes_)) {
    ClearResponse();
    return SetState(rsC1TrainOk, "training good");
  }
  FrameCommand("AT+FTH=3");
  if (state_ == rsC1GetTcf) SetState(rsC1SendFtt, "training failed");
}

// A training check that never ends abandons the call without an error: the
// caller has gone or the line is too bad to say anything more.
void ReceiveFaxEngine::StateC1GetTcf(int) {
  uint8_t c;
  while (!modem.commandTimer.Expired(Clock()) && Port().getChar(c) == 0) {
    if (tcfDle_) {
      tcfDle_ = false;
      if (c == kEtx) return TcfDone();
    } else if (c == kDle) {
      tcfDle_ = true;
    }
    ++tcfBytes_;
    if (c != 0) ++tcfNonZero_;
  }
  if (modem.commandTimer.Expired(Clock())) SetState(rsAbort, "training check never ended");
}

void ReceiveFaxEngine::StateC1SendFtt() {
  if (RespConnect()) {
    WriteSingleFrame(kFcfFtt);
    if (modem.modulation == "24") return Fail(errTrainFail, "training failed at 2400");
    return ClearResponse();
  }
  if (RespOk()) {
    FrameCommand("AT+FRH=3");
    if (state_ == rsC1SendFtt) SetState(rsC1WaitDcs, "FTT sent");
    return;
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1TrainOk() {
  if (RespNoCarrier()) {
    if (session.options & kOptSoftwareFlow) Port().swFlowDisable();
    Pause(20);
    FrameCommand("AT+FTH=3");
    if (state_ == rsC1TrainOk) SetState(rsC1SendCfr, "confirming training");
    return;
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1SendCfr() {
  if (RespConnect()) {
    if (session.options & kOptSoftwareFlow) Port().swFlowEnable(6144, 2048, 2);
    WriteSingleFrame(kFcfCfr);
    return ClearResponse();
  }
  if (RespOk()) {
    FrameCommand("AT+FRM=" + PageModulation(modem.modulation));
    if (state_ != rsC1SendCfr) return;
    AcceptCall(false);
    if (state_ == rsC1SendCfr) SetState(rsC1WaitPageConnect, "waiting for the page");
    return;
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1WaitPageConnect() {
  if (RespConnect()) {
    SetStatus(fstSessionParams);
    ForceStatus();
    ForgetAnswer();
    return SetState(rsPageStart, "page carrier");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1PageEnd() {
  if (RespNoCarrier()) {
    FrameCommand("AT+FRH=3");
    if (state_ == rsC1PageEnd) SetState(rsC1GetPostPage, "page carrier ended");
    return;
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1GetPostPage() {
  if (RespConnect()) return ClearResponse();
  if (RespOk()) {
    if (!modem.lastFrameFinal) return FrameCommand("AT+FRH=3");
    modem.lastFrameFinal = false;
    moreFollow_ = (modem.lastFcf & 0xFE) == 78;
    SetStatus(fstGetPageEnd);
    ForceStatus();
    ForgetAnswer();
    WakeSoon();
    return SetState(rsC1PageDone, moreFollow_ ? "MPS" : "EOP");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1PageDone() {
  if (int rc = EndPage(); rc != 0) return Fail(rc, "cannot end the page");
  FrameCommand("AT+FTH=3");
  if (state_ != rsC1PageDone) return;
  SetStatus(fstGetDocEnd);
  ForceStatus();
  SetState(rsC1SendMcf, "confirming the page");
}

void ReceiveFaxEngine::StateC1SendMcf() {
  if (RespConnect()) {
    WriteSingleFrame(kFcfMcf);
    return ClearResponse();
  }
  if (RespOk()) {
    if (moreFollow_) {
      FrameCommand("AT+FRM=" + PageModulation(modem.modulation));
      endOfPageMode_ = kEopSameFile;
      if (state_ == rsC1SendMcf) SetState(rsC1WaitPageConnect, "next page");
      return;
    }
    Pause(200);
    FrameCommand("AT+FRH=3");
    if (state_ != rsC1SendMcf) return;
    CloseReceivedFile();
    Log(lcReceiveOk);
    session.faxFile.clear();
    SetStatus(fstGetHangup);
    ForceStatus();
    return SetState(rsC1WaitDcn, "last page confirmed");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1WaitDcn() {
  if (RespConnect()) return ClearResponse();
  if (RespOk()) {
    if (!modem.lastFrameFinal) return FrameCommand("AT+FRH=3");
    modem.lastFrameFinal = false;
    Command("ATH");
    if (state_ == rsC1WaitDcn) SetState(rsC1HangupSent, "hanging up");
    return;
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC1HangupSent() {
  if (RespOk()) {
    SetStatus(fstGotHangup);
    ForceStatus();
    return SetState(rsCallDone, "call ended");
  }
  ForgetAnswer();
}

}  // namespace veltrane::faxengine
