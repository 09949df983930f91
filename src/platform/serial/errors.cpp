#include "platform/serial/errors.h"

namespace veltrane::serial {

const char* serialErrorText(int code) {
  switch (code) {
    case kOk: return "OK";
    case kErrNoSuchPort: return "no such port";
    case kErrNotOpen: return "port not open";
    case kErrPortInUse: return "port in use";
    case kErrAlreadyOpen: return "port already open";
    case kErrDevice: return "device error";
    case kErrBadParameter: return "bad parameter";
    case kErrOutputFull: return "output buffer full";
    case kErrNoData: return "no data waiting";
    case kErrNoTriggers: return "no more trigger slots";
    case kErrBadHandle: return "no such trigger or handler";
    default: return "unknown serial error";
  }
}

}  // namespace veltrane::serial
