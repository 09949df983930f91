// Exceptions of the imaging components (converter and unpacker). The cores
// return error codes; the components turn a negative code into one of these.
#pragma once

#include <stdexcept>
#include <string>

namespace veltrane::imaging {

class EFaxException : public std::runtime_error {
 public:
  EFaxException(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

#define VELTRANE_FAX_EXCEPTION(Name)                                            \
  class Name : public EFaxException {                                           \
   public:                                                                      \
    Name(const std::string& message, int code) : EFaxException(message, code) {} \
  };

VELTRANE_FAX_EXCEPTION(EBadGraphicsFormat)  // -8002
VELTRANE_FAX_EXCEPTION(EConvertAbort)       // -8003
VELTRANE_FAX_EXCEPTION(EBadArgument)        // -1002
VELTRANE_FAX_EXCEPTION(EGotQuitMsg)         // -1003
VELTRANE_FAX_EXCEPTION(EOutOfMemory)        // -8
VELTRANE_FAX_EXCEPTION(EInOutError)         // file-system errors -2 .. -162
VELTRANE_FAX_EXCEPTION(EFaxBadFormat)       // -8001
VELTRANE_FAX_EXCEPTION(ECantMakeBitmap)     // -8005

#undef VELTRANE_FAX_EXCEPTION

// Throws the exception that matches a negative code, with its message
// (ImagingErrorText); anything unknown becomes EFaxException "Fax exception".
[[noreturn]] void ThrowFaxError(int code);

}  // namespace veltrane::imaging
