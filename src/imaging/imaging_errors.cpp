#include "imaging/imaging_errors.h"

#include <cerrno>

namespace veltrane::imaging {

int FileErrorFromErrno(int err) {
  switch (err) {
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return kErrAccessDenied;
    case ENOMEM: return kErrOutOfMemory;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return kErrDiskWrite;
    default: return kErrReadPastEnd;
  }
}

std::string ImagingErrorText(int code) {
  switch (code) {
    case 0: return "OK";
    case kErrFileNotFound: return "File not found";
    case kErrPathNotFound: return "Path not found";
    case kErrTooManyOpenFiles: return "Too many open files";
    case kErrAccessDenied: return "File access denied";
    case kErrOutOfMemory: return "Insufficient memory";
    case kErrReadPastEnd: return "Disk read error";
    case kErrDiskWrite: return "Disk is full";
    case kErrBadArgument: return "Bad argument passed to function";
    case kErrGotQuitMsg: return "Got quit message";
    case kErrNotApf: return "File is not an APF file";
    case kErrBadGraphicsFormat: return "Unsupported graphics file format";
    case kErrConvertAbort: return "User aborted fax conversion";
    case kErrCantMakeBitmap: return "CreateBitmapIndirect API failure";
    default:
      if (IsFileError(code)) return "I/O error " + std::to_string(-code);
      return "Fax exception";
  }
}

}  // namespace veltrane::imaging
