// Class 1 sending: the engine runs T.30 itself, exchanging HDLC frames through
// AT+FTH=3 / AT+FRH=3 at 300 bit/s and the training check and page data through
// AT+FTM=<modulation>.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "faxengine/send_engine.h"

namespace veltrane::faxengine {

namespace {
// DCS speed bits (byte 2) by speed index: T.30's data signalling rate field
// (bits 11-14). 12000 is V.17's 0101 (40); the lone bit 13 (16) would ask a
// standard receiver for V.33.
constexpr uint8_t kDcsSpeedBits[7] = {0, 0, 8, 12, 4, 40, 32};

// Scan-time bits of a DCS by code, for normal and fine resolution.
constexpr uint8_t kScanBitsNormal[8] = {112, 16, 32, 32, 0, 0, 64, 64};
constexpr uint8_t kScanBitsFine[8] = {112, 16, 16, 32, 32, 0, 0, 64};

std::string HexFrame(const uint8_t* bytes, std::size_t n) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    s += buf;
  }
  return s;
}
}  // namespace

std::array<uint8_t, 4> BuildDcs(int speedIndex, bool fine, bool wide, int scanTimeCode) {
  const int idx = std::clamp(speedIndex, 1, 6);
  const int code = std::clamp(scanTimeCode, 0, 7);
  std::array<uint8_t, 4> f{};
  f[1] = static_cast<uint8_t>(2 + (fine ? 64 : 0) + kDcsSpeedBits[idx]);
  f[2] = static_cast<uint8_t>((fine ? kScanBitsFine[code] : kScanBitsNormal[code]) + 136 + (wide ? 1 : 0));
  return f;
}

DcsSpeed SpeedOfDcs(uint8_t byte2) {
  switch (byte2 & 60) {
    case 0: return {1, "24"};
    case 8: return {2, "48"};
    case 12: return {3, "72"};
    case 4: return {4, "96"};
    case 44: return {3, "73"};   // V.17 7200
    case 36: return {4, "97"};   // V.17 9600
    case 40: return {5, "121"};  // V.17 12000
    case 32: return {6, "145"};  // V.17 14400
    case 16: return {5, "121"};  // what earlier builds of ours sent for 12000
    default: break;
  }
  // Reserved combinations: the highest rate a set bit can stand for.
  const int index = (byte2 & 32) ? 6 : (byte2 & 16) ? 5 : (byte2 & 4) ? 4 : 2;
  return {index, ModulationOfIndex(index)};
}

std::array<uint8_t, 20> BuildStationField(const std::string& stationId) {
  std::array<uint8_t, 20> f;
  f.fill(' ');
  const std::size_t n = std::min<std::size_t>(stationId.size(), 20);
  // The field carries the digits last-first after the padding, as T.30 5.3.6.2.4 orders them.
  for (std::size_t i = 0; i < n; ++i) f[20 - n + i] = static_cast<uint8_t>(stationId[n - 1 - i]);
  return f;
}

std::size_t TcfLength(int bps) { return std::min<std::size_t>(static_cast<std::size_t>(bps / 100) * 18, 8192); }

// ------------------------------------------------------------- frames --

void SendFaxEngine::WriteFrameStart(bool final) {
  Pause(20);
  const uint8_t head[2] = {255, static_cast<uint8_t>(final ? 19 : 3)};
  Port().putBlock(head, 2);
}

void SendFaxEngine::WriteFrameEnd() {
  const uint8_t tail[2] = {16, 3};
  Port().putBlock(tail, 2);
}

void SendFaxEngine::WriteSingleFrame(uint8_t fcf) {
  Trace("> frame " + HexFrame(&fcf, 1));
  WriteFrameStart(true);
  Port().putChar(fcf);
  WriteFrameEnd();
}

void SendFaxEngine::WriteTsi() {
  auto field = BuildStationField(session.stationId);
  Trace("> frame TSI \"" + session.stationId + "\"");
  WriteFrameStart(false);
  Port().putChar(kFcfTsi);
  SendStuffed(field.data(), field.size());
  WriteFrameEnd();
}

void SendFaxEngine::WriteDcs() {
  const bool fine = modem.resolution == '1';
  auto fif = BuildDcs(modem.speedIndex, fine, modem.widePage, modem.scanTimeCode);
  Trace("> frame DCS " + HexFrame(fif.data(), fif.size()) + " at " + std::to_string(modem.connectBps));
  WriteFrameStart(true);
  Port().putChar(kFcfDcs);
  SendStuffed(fif.data(), fif.size());
  WriteFrameEnd();
}

void SendFaxEngine::WriteTcf() {
  const std::size_t n = TcfLength(modem.connectBps);
  std::vector<uint8_t> zeros(n + 2, 0);
  zeros[n] = 16;
  zeros[n + 1] = 3;
  Trace("> TCF " + std::to_string(n) + " zero bytes");
  Port().putBlock(zeros.data(), zeros.size());
}

void SendFaxEngine::ProcessDis(const uint8_t fif[4]) {
  auto& remote = modem.remoteSpeeds;
  remote.fill(false);
  remote[1] = remote[2] = true;
  // V.17 (bit 14) runs at 14400 and 12000; bit 13 alone is the older 12000 mark.
  if (fif[1] & 32) remote[6] = remote[5] = true;
  if (fif[1] & 16) remote[5] = true;
  if ((fif[1] & 12) == 4) remote[4] = true;
  if ((fif[1] & 12) == 12) remote[3] = remote[4] = true;
  modem.speedIndex = 1;
  for (int i = 6; i >= 1; --i) {
    if (modem.localSpeeds[i] && remote[i] && RateOfIndex(i) <= modem.desiredBps) {
      modem.speedIndex = i;
      break;
    }
  }
  modem.connectBps = RateOfIndex(modem.speedIndex);
  modem.modulation = ModulationOfIndex(modem.speedIndex);
  modem.fineResolution = modem.resolution == '1';
  modem.widePage = pageHeader_.PageFlags & imaging::pfWide;
  modem.errorControl = false;
  modem.remoteFine = fif[1] & 64;
  modem.remoteWide = (fif[2] & 3) == 1;
  modem.scanTimeCode = ScanTimeCodeOf(fif[2]);
  RecomputeMinBytes();
}

bool SendFaxEngine::StepDown() {
  for (int i = modem.speedIndex - 1; i >= 1; --i) {
    if (modem.localSpeeds[i] && modem.remoteSpeeds[i]) {
      modem.speedIndex = i;
      modem.connectBps = RateOfIndex(i);
      modem.modulation = ModulationOfIndex(i);
      RecomputeMinBytes();
      return true;
    }
  }
  return false;
}

// Called by the response collector when DLE ETX ends a frame.
void SendFaxEngine::FrameReceived() {
  std::string& r = modem.response;
  std::size_t start = 0;
  while (r.size() - start > 1 && static_cast<uint8_t>(r[start]) != 255) ++start;
  const auto byte = [&](std::size_t i) -> uint8_t {
    return start + i < r.size() ? static_cast<uint8_t>(r[start + i]) : 0;
  };
  modem.lastFrameFinal = byte(1) & 16;
  const uint8_t fcf = byte(2);
  modem.lastFcf = fcf;
  Trace("< frame " + HexFrame(reinterpret_cast<const uint8_t*>(r.data()) + start,
                              r.size() - start > 2 ? r.size() - start - 2 : r.size() - start));
  bool retrain = false;
  int result = 0;
  switch (fcf & 0xFE) {
    case 64:
    case 66: {
      std::string id;
      for (int i = 20; i >= 1; --i) id.push_back(static_cast<char>(byte(2 + i)));
      session.remoteId = CleanStationId(id);
      SetStatus(fstRemoteID);
      ForceStatus();
      break;
    }
    case 68: retrain = true; break;
    case 128: {
      const uint8_t fif[4] = {byte(3), byte(4), byte(5), byte(6)};
      ProcessDis(fif);
      const bool wide = pageHeader_.PageFlags & imaging::pfWide;
      if ((modem.resolution == '1' && !modem.remoteFine) || (wide && !modem.remoteWide)) {
        ClearResponse();
        return Fail(errIncompatible, "remote lacks fine or wide");
      }
      SetStatus(fstSessionParams);
      ForceStatus();
      break;
    }
    case 132: modem.cfrReceived = true; break;
    case 250: result = errCancel; break;
    default: break;
  }
  ClearResponse();
  if (result == errCancel) return Fail(errCancel, "remote sent DCN");
  if (retrain) {
    if (!StepDown()) return Fail(errTrainFail, "failed to train at the lowest speed");
    if (int rc = SendFrameCommand("AT+FTH=3"); rc < 0) return Fail(rc, "port write failed");
    SetState(ssC1SendDcs, "FTT, stepping down");
  }
}

// ------------------------------------------------------------- states --

void SendFaxEngine::StateC1Dialled() {
  if (RespConnect()) return ClearResponse();
  if (RespOk()) {
    if (modem.lastFrameFinal) {
      Pause(200);
      if (int rc = SendFrameCommand("AT+FTH=3"); rc < 0) return Fail(rc, "port write failed");
      modem.lastFrameFinal = false;
      return SetState(ssC1SendTsi, "remote capabilities received");
    }
    if (int rc = SendFrameCommand("AT+FRH=3"); rc < 0) return Fail(rc, "port write failed");
    return;
  }
  if (HasText("BUSY") || HasText("ANSWER")) return BusyHandling(true);
  if (HasText("VOICE")) return Fail(errVoice, "voice answered");
  if (HasText("NO DIAL")) return Fail(errNoDialTone, "no dial tone");
  if (RespNoCarrier()) return Fail(errNoConnect, "no carrier");
  DropAnswer();
}

void SendFaxEngine::StateC1SendTsi() {
  if (!RespConnect()) return DropAnswer();
  WriteTsi();
  ClearResponse();
  SetState(ssC1SendDcs, "TSI written");
}

void SendFaxEngine::StateC1SendDcs() {
  if (!RespConnect()) return DropAnswer();
  WriteDcs();
  ClearResponse();
  SetState(ssC1DcsSent, "DCS written");
}

void SendFaxEngine::StateC1DcsSent() {
  if (!RespOk()) return DropAnswer();
  if (int rc = SendFrameCommand("AT+FTM=" + modem.modulation); rc < 0) return Fail(rc, "port write failed");
  SetState(ssC1SendTcf, "training");
}

void SendFaxEngine::StateC1SendTcf() {
  if (!RespConnect()) return DropAnswer();
  if (session.options & kOptSoftwareFlow) Port().swFlowEnable(0, 0, serial::kSwFlowObeyXoff);
  WriteTcf();
  ClearResponse();
  SetState(ssC1TcfSent, "TCF written");
}

void SendFaxEngine::StateC1TcfSent() {
  if (!RespOk()) return;  // the answer stays in the buffer
  if (session.options & kOptSoftwareFlow) Port().swFlowDisable();
  Pause(200);
  if (int rc = SendFrameCommand("AT+FRH=3"); rc < 0) return Fail(rc, "port write failed");
  modem.cfrReceived = false;
  SetState(ssC1WaitCfr, "waiting for CFR");
}

void SendFaxEngine::StateC1WaitCfr() {
  if (!RespOk()) return DropAnswer();
  if (!modem.lastFrameFinal) {
    if (int rc = SendFrameCommand("AT+FRH=3"); rc < 0) return Fail(rc, "port write failed");
    return;
  }
  Pause(200);
  if (modem.cfrReceived) {
    if (int rc = SendFrameCommand("AT+FTM=" + PageModulation(modem.modulation)); rc < 0) return Fail(rc, "port write failed");
    modem.lastFrameFinal = false;
    return SetState(ssC1PageConnect, "CFR");
  }
  if (int rc = SendFrameCommand("AT+FTH=3"); rc < 0) return Fail(rc, "port write failed");
  SetState(ssC1SendDcs, "no CFR, training again");
}

void SendFaxEngine::StateC1PageConnect() {
  if (!RespConnect()) return DropAnswer();
  SetTimeout(18);
  SetState(ssWaitXon, "page carrier up");
}

void SendFaxEngine::StateC1DataDone() {
  if (!RespOk()) return DropAnswer();
  modem.postPageRetries = 0;
  SetStatus(fstSendPageEnd);
  SetState(ssC1PostPageRetry, "page data sent");
}

void SendFaxEngine::StateC1PostPageRetry() {
  if (++modem.postPageRetries > 3) return Fail(errTimeout, "no reply to the post-page message", true);
  Pause(500);
  if (int rc = SendFrameCommand("AT+FTH=3"); rc < 0) return Fail(rc, "port write failed");
  SetState(ssC1SendPostPage, "post-page message");
}

void SendFaxEngine::StateC1SendPostPage() {
  if (!RespConnect()) return DropAnswer();
  WriteSingleFrame(MorePages() ? kFcfMps : kFcfEop);
  ClearResponse();
  SetState(ssC1PostPageSent, MorePages() ? "MPS written" : "EOP written");
}

void SendFaxEngine::StateC1PostPageSent() {
  if (!RespOk()) return DropAnswer();
  Pause(200);
  if (int rc = SendFrameCommand("AT+FRH=3"); rc < 0) return Fail(rc, "port write failed");
  SetTimeout(54);
  SetState(ssC1WaitPostPageReply, "waiting for the page reply");
}

void SendFaxEngine::StateC1WaitPostPageReply() {
  if (RespConnect()) return ClearResponse();
  if (RespError()) return SetState(ssC1PostPageRetry, "ERROR instead of a reply");
  if (!RespOk()) return DropAnswer();
  if (!modem.lastFrameFinal) {
    if (int rc = SendFrameCommand("AT+FRH=3"); rc < 0) return Fail(rc, "port write failed");
    return;
  }
  const uint8_t fcf = static_cast<uint8_t>(modem.lastFcf);
  if (fcf == kFcfMcf || fcf == kFcfRtp) {
    modem.lastFrameFinal = false;
    const bool more = MorePages();
    if (more) {
      if (int rc = OpenNextPage(); rc != 0) return Fail(rc, "next page unreadable");
    }
    if (more && fcf == kFcfMcf) {
      if (int rc = SendFrameCommand("AT+FTM=" + PageModulation(modem.modulation)); rc < 0) return Fail(rc, "port write failed");
      return SetState(ssC1PageConnect, "MCF, next page");
    }
    if (int rc = SendFrameCommand("AT+FTH=3"); rc < 0) return Fail(rc, "port write failed");
    return SetState(more ? ssC1SendDcs : ssC1SendDcn, more ? "RTP, training again" : "last page confirmed");
  }
  if (fcf == kFcfRtn) return Fail(errMidSession, "remote rejected the page (RTN)");
  modem.lastFrameFinal = false;
  DropAnswer();
}

void SendFaxEngine::StateC1SendDcn() {
  if (!RespConnect()) return DropAnswer();
  WriteSingleFrame(kFcfDcn);
  ClearResponse();
  SetState(ssC1DcnSent, "DCN written");
}

void SendFaxEngine::StateC1DcnSent() {
  if (!RespOk()) return DropAnswer();
  if (int rc = SendCommand("ATH"); rc < 0) return Fail(rc, "port write failed");
  SetTimeout(26);
  SetState(ssC1WaitHangup, "hanging up");
}

void SendFaxEngine::StateC1WaitHangup() {
  if (!RespOk()) return DropAnswer();
  SetState(ssFaxDone, "hung up");
}

}  // namespace veltrane::faxengine
