// Text rules of the modem dialogue: trimming and reading modem answers,
// cleaning station IDs, the standard initialisation strings and the answers
// to the class and speed queries. Pure functions, so they are easy to table-test.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace veltrane::faxengine {

// Removes every leading and trailing character whose code is below 33.
std::string Trim(std::string_view s);
// Trims, deletes up to and including the first ':' (else the first '='),
// trims again; at most 128 characters.
std::string StripPrefix(std::string_view s);
// The (at most) three characters after the first ':' read as a decimal
// number; 0 without a ':' or digits.
int HangupCodeValue(std::string_view s);
// A station ID from the line: trimmed, a leading '"' made a space, trailing
// characters other than letters and digits removed; at most 20 characters.
std::string CleanStationId(std::string_view s);
// Upper-cased, "AT" put in front unless it begins with 'A', at most 40 characters.
std::string NormaliseModemInit(std::string_view s);
// The standard initialisation string for the dial options.
std::string StandardInitString(bool blindDial, bool detectBusy);

struct FaxClassFlags {
  bool class1 = false;
  bool class2 = false;
  bool class20 = false;
};
// Reads the (prefix-stripped) answer to "AT+FCLASS=?".
FaxClassFlags ParseClassAnswer(std::string_view answer);

// Applies one answer line of "AT+FTM=?"/"AT+FRM=?" to the speed flags
// (indexes 1..6) and returns the highest index whose flag is set.
int ApplySpeedAnswer(std::string_view line, std::array<bool, 7>& flags);

// The modulation code for page data after a good training check: V.17's
// short train (T.30 5.3.2.4 keeps the long train for the TCF), so a V.17
// receiver set for the short train after CFR does not miss the page's start.
// V.27ter and V.29 codes have one train and come back unchanged.
std::string PageModulation(std::string_view trainingModulation);

// A copy that shows control bytes as <NN>, for status lines and traces.
std::string Printable(std::string_view s);

}  // namespace veltrane::faxengine
