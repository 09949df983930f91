#include "cli/command.h"

#include <algorithm>

namespace veltrane::cli {

static std::vector<Command>& registry() {
  static std::vector<Command> list;
  return list;
}

bool registerCommand(Command command) {
  auto& list = registry();
  auto pos = std::lower_bound(list.begin(), list.end(), command.name,
                              [](const Command& c, const std::string& n) { return c.name < n; });
  list.insert(pos, std::move(command));
  return true;
}

const std::vector<Command>& commands() { return registry(); }

const Command* findCommand(const std::string& name) {
  for (const auto& c : registry())
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace veltrane::cli
