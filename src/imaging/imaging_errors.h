// Error codes of the imaging core. Operations return 0 or one of these.
// File-system errors use the classic run-time error numbers, negated.
#pragma once

#include <string>

namespace veltrane::imaging {

inline constexpr int kErrFileNotFound = -2;
inline constexpr int kErrPathNotFound = -3;
inline constexpr int kErrTooManyOpenFiles = -4;
inline constexpr int kErrAccessDenied = -5;
inline constexpr int kErrOutOfMemory = -8;
inline constexpr int kErrReadPastEnd = -100;  // "Disk read error": a file shorter than its headers say
inline constexpr int kErrDiskWrite = -101;    // "Disk is full"
inline constexpr int kErrBadArgument = -1002;
inline constexpr int kErrGotQuitMsg = -1003;
inline constexpr int kErrNotApf = -8001;
inline constexpr int kErrBadGraphicsFormat = -8002;
inline constexpr int kErrConvertAbort = -8003;
inline constexpr int kErrCantMakeBitmap = -8005;

// Maps an errno value to the matching negative file error code.
int FileErrorFromErrno(int err);
// Text of an imaging error code ("File not found", "File is not an APF file", ...).
std::string ImagingErrorText(int code);
// True for the file-system range (-2 .. -162).
inline bool IsFileError(int code) { return code <= -2 && code >= -162; }

}  // namespace veltrane::imaging
