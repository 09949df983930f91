#include "imaging/fax_exceptions.h"

#include "imaging/imaging_errors.h"

namespace veltrane::imaging {

void ThrowFaxError(int code) {
  const std::string text = ImagingErrorText(code);
  switch (code) {
    case kErrBadGraphicsFormat: throw EBadGraphicsFormat(text, code);
    case kErrConvertAbort: throw EConvertAbort(text, code);
    case kErrBadArgument: throw EBadArgument(text, code);
    case kErrGotQuitMsg: throw EGotQuitMsg(text, code);
    case kErrOutOfMemory: throw EOutOfMemory(text, code);
    case kErrNotApf: throw EFaxBadFormat(text, code);
    case kErrCantMakeBitmap: throw ECantMakeBitmap(text, code);
    default:
      if (IsFileError(code)) throw EInOutError(text, code);
      throw EFaxException("Fax exception", code);
  }
}

}  // namespace veltrane::imaging
