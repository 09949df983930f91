// veltrane-fax: the command-line face of Veltrane, for scripts and for people
// without the windows.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"

static void printUsage(std::ostream& out) {
  out << "usage: veltrane-fax COMMAND [ARGS...]\n\ncommands:\n";
  for (const auto& c : veltrane::cli::commands()) {
    std::string name = "  " + c.name;
    if (name.size() < 14) name.resize(14, ' ');
    out << name << c.summary << "\n";
  }
  out << "\n'veltrane-fax COMMAND --help' describes a command.\n";
}

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage(std::cerr);
    return 2;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    printUsage(std::cout);
    return 0;
  }
  const auto* command = veltrane::cli::findCommand(name);
  if (!command) {
    std::cerr << "veltrane-fax: unknown command \"" << name << "\"\n";
    printUsage(std::cerr);
    return 2;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  try {
    return command->run(args);
  } catch (const std::exception& e) {
    std::cerr << "veltrane-fax: " << e.what() << "\n";
    return 1;
  }
}
