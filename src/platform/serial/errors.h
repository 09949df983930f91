// Result codes of the serial layer. Operations return 0 or one of these
// negative codes; the first three are the ones the modem-finding commands tell
// apart, and -5001 is what the fax engine records when it gets no triggers.
#pragma once

namespace veltrane::serial {

inline constexpr int kOk = 0;
inline constexpr int kErrNoSuchPort = -2001;   // no device path, no such file, or not a terminal
inline constexpr int kErrNotOpen = -2002;      // operation needs an open port
inline constexpr int kErrPortInUse = -2005;    // another process (or descriptor) holds the device
inline constexpr int kErrAlreadyOpen = -2008;  // this port, or another port of this process, has it open
inline constexpr int kErrDevice = -2010;       // the device failed a read, write or control call
inline constexpr int kErrBadParameter = -2011; // unsupported speed, data bits, level or slot
inline constexpr int kErrOutputFull = -2012;   // the data does not fit the free output buffer
inline constexpr int kErrNoData = -2013;       // get character with an empty input buffer
inline constexpr int kErrNoTriggers = -5001;   // every trigger slot is taken
inline constexpr int kErrBadHandle = -5003;    // no such trigger or handler

// Short English text of a code above, for logs ("unknown serial error" otherwise).
const char* serialErrorText(int code);

}  // namespace veltrane::serial
