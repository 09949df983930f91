#include "faxengine/receive_fax.h"

namespace veltrane::faxengine {

TCustomReceiveFax::TCustomReceiveFax() { FaxClass = fcDetect; }

TCustomReceiveFax::~TCustomReceiveFax() {
  window_->Detach();
  engine_.reset();
}

void TCustomReceiveFax::PortChanged() {
  engine_.reset();
  if (port_) engine_ = std::make_unique<ReceiveFaxEngine>(*port_);
}

void TCustomReceiveFax::StartReception() {
  CheckPort();
  if (InSession()) return;
  ReceiveFaxEngine& e = *engine_;
  CopyCommonProperties(e);
  e.modem.answerOnRing = AnswerOnRing > 0 ? AnswerOnRing : 1;
  e.modem.faxAndData = FaxAndData ? '1' : '0';
  e.oneFax = OneFax;
  e.constantStatus = ConstantStatus;
  e.naming = ReceivedFileNaming;
  e.session.destinationDir = DestinationDir;
  e.Start();
}

bool TCustomReceiveFax::DoFaxAccept() {
  bool accept = true;
  if (OnFaxAccept) OnFaxAccept(*this, accept);
  return accept;
}

void TCustomReceiveFax::DoFaxName(std::string& name) {
  if (OnFaxName) {
    OnFaxName(*this, name);
  } else if (engine_) {
    name = engine_->DefaultFileName();
  }
}

long TCustomReceiveFax::HandleFaxMessage(int msg, long wParam) {
  switch (msg) {
    case FaxMsgAccept: return DoFaxAccept() ? 1 : 0;
    case FaxMsgName: {
      std::string name = FaxFile.substr(0, 255);
      DoFaxName(name);
      FaxFile = name;
      if (engine_) engine_->session.faxFile = name;
      return 0;
    }
    default: return TCustomAbstractFax::HandleFaxMessage(msg, wParam);
  }
}

}  // namespace veltrane::faxengine
