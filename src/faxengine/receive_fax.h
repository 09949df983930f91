// TReceiveFax: waits for calls on its port, answers them and writes each fax
// into an APF file (see receive_engine.h for the session itself).
//
//   serial::ComPort port(dispatcher);  ...open it...
//   TReceiveFax fax;
//   fax.SetComPort(&port);
//   fax.DestinationDir = "receive";
//   fax.OnFaxLog = [](TCustomAbstractFax& f, TFaxLogCode c) { ... };
//   fax.StartReception();   // returns at once; calls are handled from the dispatcher
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "faxengine/fax_components.h"
#include "faxengine/receive_engine.h"

namespace veltrane::faxengine {

class TCustomReceiveFax : public TCustomAbstractFax {
 public:
  using TFaxAcceptEvent = std::function<void(TCustomAbstractFax& CP, bool& Accept)>;
  using TFaxNameEvent = std::function<void(TCustomAbstractFax& CP, std::string& Name)>;

  TCustomReceiveFax();
  ~TCustomReceiveFax() override;

  void StartReception();
  bool IsSender() const override { return false; }
  ReceiveFaxEngine* ReceiveEngine() { return engine_.get(); }

  // Published properties.
  int AnswerOnRing = 1;
  bool FaxAndData = false;
  bool OneFax = false;
  bool ConstantStatus = false;
  std::string DestinationDir;
  TFaxAcceptEvent OnFaxAccept;
  TFaxNameEvent OnFaxName;
  // Run-time.
  TReceivedFileNaming ReceivedFileNaming = rnSequence;

  long HandleFaxMessage(int msg, long wParam) override;

 protected:
  FaxEngineBase* Engine() const override { return engine_.get(); }
  void PortChanged() override;
  virtual bool DoFaxAccept();
  virtual void DoFaxName(std::string& name);

 private:
  std::unique_ptr<ReceiveFaxEngine> engine_;
};

using TReceiveFax = TCustomReceiveFax;

}  // namespace veltrane::faxengine
