// Command registry of the veltrane-fax tool. Each command file registers one
// or more commands with VELTRANE_CLI_COMMAND at static-initialisation time.
#pragma once

#include <string>
#include <vector>

namespace veltrane::cli {

using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
  std::string name;     // first word on the command line, e.g. "convert"
  std::string summary;  // one line for the command list
  CommandFn run;        // args exclude the program and command names
};

bool registerCommand(Command command);
const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

}  // namespace veltrane::cli

#define VELTRANE_CLI_CONCAT2(a, b) a##b
#define VELTRANE_CLI_CONCAT(a, b) VELTRANE_CLI_CONCAT2(a, b)
#define VELTRANE_CLI_COMMAND(name, summary, fn)                  \
  static const bool VELTRANE_CLI_CONCAT(registered_, __LINE__) = \
      ::veltrane::cli::registerCommand({name, summary, fn})
