#include <iostream>

#include "cli/command.h"

static int runVersion(const std::vector<std::string>&) {
  std::cout << "veltrane-fax 0.1\n";
  return 0;
}

VELTRANE_CLI_COMMAND("version", "print the version", runVersion);
