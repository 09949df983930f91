// veltrane-fax info FILE.apf: what an APF fax file holds, page by page.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/cmd_imaging_common.h"
#include "cli/command.h"
#include "imaging/apf.h"

namespace veltrane::cli {
namespace {

std::string TimeStampText(std::uint32_t stamp) {
  if (stamp == 0) return "none";
  const unsigned time = stamp & 0xFFFF, date = stamp >> 16;
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15,
                date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

std::string FlagsText(std::uint16_t flags) {
  std::string text = flags & imaging::pfHighRes ? "fine" : "normal";
  text += flags & imaging::pfWide ? ", 2048 pixels" : ", 1728 pixels";
  text += flags & imaging::pfLengthWords ? ", records" : ", stream";
  return text;
}

// Sender ids come from the telephone line: show anything unprintable as '?'.
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  return text;
}

int RunInfo(const std::vector<std::string>& args) {
  ArgSpec spec{"info FILE.apf",
               "Shows the pages of an APF fax file: each page's flags and data length,\n"
               "the sender id and the time stamp."};
  ParsedArgs parsed;
  if (int rc = parseArgs(spec, args, parsed, 1, 1); rc >= 0) return rc;
  const std::string& path = parsed.positional[0];

  std::vector<std::uint8_t> bytes;
  if (int rc = imaging::ReadWholeFile(path, bytes); rc < 0) return FailWith(path, rc);
  imaging::ApfPageWalker walker;
  if (int rc = walker.Open(bytes); rc < 0) return FailWith(path, rc);
  const imaging::ApfFileHeader& header = walker.Header();

  std::cout << "file:       " << path << "\n"
            << "pages:      " << header.PageCount << "\n"
            << "sender id:  \"" << Printable(header.SenderIdText()) << "\"\n"
            << "time stamp: " << TimeStampText(header.TimeStamp) << "\n";
  for (unsigned n = 1; n <= walker.PageCount(); ++n) {
    imaging::ApfPageView page;
    if (int rc = walker.Page(n, page); rc < 0) return FailWith(path + " page " + std::to_string(n), rc);
    char flags[8];
    std::snprintf(flags, sizeof flags, "0x%04X", page.PageFlags);
    std::cout << "page " << n << ":     flags " << flags << " (" << FlagsText(page.PageFlags) << "), "
              << page.Data.size() << " bytes of data\n";
  }
  return 0;
}

}  // namespace
}  // namespace veltrane::cli

VELTRANE_CLI_COMMAND("info", "show the pages, sender id and time stamp of an APF file", veltrane::cli::RunInfo);
