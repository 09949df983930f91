// Small rules of the receiving side, kept apart so they can be tested on
// their own: the training check, the names given to received files, and the
// cleaning of the station IDs remotes send us.
#pragma once

#include <string>
#include <string_view>

namespace veltrane::faxengine {

enum TReceivedFileNaming { rnFixed = 0, rnSequence = 1, rnDate = 2 };

// True when a training check (TCF) of byteCount bytes with nonZero non-zero
// bytes is good enough to receive at that speed: fewer than 10 % non-zero.
// A TCF without bytes proves nothing and fails.
bool TcfAcceptable(long nonZero, long byteCount);

// The default name of the next received file. rnSequence: "FAX" + four
// digits; rnDate: month and day (two digits each) + four digits; both with
// the extension, put in dir, numbered from 1 up to the first name no file
// takes ("NONAME.APF" when 9999 are taken). rnFixed: "noname.apf".
// month and day are 1-based.
std::string DefaultReceiveName(TReceivedFileNaming mode, std::string_view dir, std::string_view ext,
                               int month, int day);

// A station ID from a remote, safe for file names, log lines and events:
// trimmed, a leading quote made a space, trailing characters other than
// letters and digits removed, at most 20 characters, and no control byte,
// quote or byte outside printable ASCII left in it (each becomes a space).
std::string CleanRemoteStationId(std::string_view raw);

}  // namespace veltrane::faxengine
