#include <cstdlib>
#include <map>

#include "faxengine/fax_codes.h"

namespace veltrane::faxengine {

namespace {

// The program's string table: status texts at 13000 + code, error texts at the
// ids ErrorStringId gives.
const std::map<int, const char*>& StringTable() {
  static const std::map<int, const char*> table = {
      {13001, "Initializing modem for fax processing"},
      {13002, "Dialing"},
      {13003, "Busy, waiting until redial..."},
      {13004, "Sending page data"},
      {13005, "Sending EOP"},
      {13006, "Error sending page"},
      {13007, "Page accepted by remote"},
      {13020, "Waiting for incoming call"},
      {13021, "No connect on this call"},
      {13022, "Answering incoming call"},
      {13023, "Incoming call validated as fax"},
      {13024, "Getting page data"},
      {13025, "Getting end-of-page signal"},
      {13026, "Getting end-of-document status"},
      {13027, "Getting hangup command"},
      {13028, "Got Class 2 FHNG code"},
      {13040, "Getting connection params"},
      {13041, "Got called-station ID"},
      {13042, "User abort"},
      {13043, "Finished"},
      // Run-time file errors.
      {11002, "File not found"},
      {11003, "Path not found"},
      {11004, "Too many open files"},
      {11005, "File access denied"},
      {11006, "Invalid file handle"},
      {11008, "Insufficient memory"},
      {11012, "Invalid file access code"},
      {11015, "Invalid drive number"},
      {11016, "Cannot remove current directory"},
      {11017, "Cannot rename across drives"},
      {11018, "No more files"},
      {11900, "Attempt to read beyond end of file"},
      {11901, "Disk is full"},
      {11902, "File not assigned"},
      {11903, "File not open"},
      {11904, "File not open for input"},
      {11905, "File not open for output"},
      {11906, "Invalid numeric format"},
      {11950, "Disk is write-protected"},
      {11951, "Bad drive request struct length"},
      {11952, "Drive not ready"},
      {11954, "CRC error in data"},
      {11956, "Disk seek error"},
      {11957, "Unknown media type"},
      {11958, "Sector not found"},
      {11959, "Printer out of paper"},
      {11960, "Device write error"},
      {11961, "Device read error"},
      {11962, "Hardware failure"},
      // Component and engine errors.
      {11105, "ComPort component not assigned"},
      {11106, "Internal error creating window class"},
      {11109, "Component not compatible with WinSock"},
      {11306, "Output buffer too small for block"},
      {11501, "No more trigger slots"},
      {11605, "Cancel requested"},
      {11606, "Fatal time out"},
      {11610, "No filename specified in protocol receive"},
      {11611, "File was rejected"},
      {11801, "File is not an APF file"},
      {11870, "Fax incompatible with remote fax"},
      {11871, "Bad response from modem"},
      {11872, "Modems failed to train"},
      {11873, "Error while initializing modem"},
      {11874, "Called fax number was busy"},
      {11875, "Called fax number answered with voice"},
      {11876, "Incoming data call"},
      {11877, "No dial tone"},
      {11878, "Failed to connect to remote fax"},
      {11879, "Fax failed in mid-session"},
      {11880, "Fax failed at page end"},
      {11882, "Multiple resolutions per session not supported"},
  };
  return table;
}

std::string LoadString(int id) {
  const auto& table = StringTable();
  auto it = table.find(id);
  return it == table.end() ? std::string() : std::string(it->second);
}

}  // namespace

std::string StatusMsg(int code) {
  if (code < 1 || code > 43) return {};
  return LoadString(13000 + code);
}

int ErrorStringId(int code) {
  const long v = std::labs(static_cast<long>(code));
  if (v >= 100 && v <= 199) return static_cast<int>(11800 + v);
  return static_cast<int>(11000 + (v % 1000) + (v / 1000) * 100);
}

std::string ErrorText(int code) { return LoadString(ErrorStringId(code)); }

}  // namespace veltrane::faxengine
