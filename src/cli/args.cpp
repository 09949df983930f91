#include "cli/args.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace veltrane::cli {

std::string ArgSpec::helpText() const {
  std::ostringstream s;
  s << "usage: veltrane-fax " << usage << "\n";
  if (!purpose.empty()) s << "\n" << purpose << "\n";
  if (!opts.empty()) {
    s << "\noptions:\n";
    for (const auto& o : opts) {
      std::string left = "  " + o.name + (o.value.empty() ? "" : " " + o.value);
      if (left.size() < 24) left.resize(24, ' ');
      else left += "  ";
      s << left << o.help << "\n";
    }
  }
  s << "  --help                show this text\n";
  return s.str();
}

std::optional<std::string> ParsedArgs::get(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::string ParsedArgs::get(const std::string& name, const std::string& fallback) const {
  auto v = get(name);
  return v ? *v : fallback;
}

bool ParsedArgs::getInt(const std::string& name, long& out) const {
  auto v = get(name);
  if (!v) return true;
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(v->c_str(), &end, 10);
  if (v->empty() || *end != '\0' || errno != 0) {
    std::cerr << "veltrane-fax: " << name << " needs a number, not \"" << *v << "\"\n";
    return false;
  }
  out = n;
  return true;
}

int parseArgs(const ArgSpec& spec, const std::vector<std::string>& args, ParsedArgs& out,
              std::size_t min_positional, std::size_t max_positional) {
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_done || a.size() < 2 || a[0] != '-') {
      out.positional.push_back(a);
      continue;
    }
    if (a == "--") { options_done = true; continue; }
    if (a == "--help" || a == "-h") { std::cout << spec.helpText(); return 0; }
    std::string name = a, value;
    bool inline_value = false;
    if (auto eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inline_value = true;
    }
    const ArgSpec::Opt* opt = nullptr;
    for (const auto& o : spec.opts)
      if (o.name == name) opt = &o;
    if (!opt) {
      std::cerr << "veltrane-fax: unknown option " << name << "\n" << spec.helpText();
      return 2;
    }
    if (opt->value.empty()) {
      if (inline_value) {
        std::cerr << "veltrane-fax: " << name << " takes no value\n";
        return 2;
      }
      out.values[name].push_back("");
      continue;
    }
    if (!inline_value) {
      if (i + 1 >= args.size()) {
        std::cerr << "veltrane-fax: " << name << " needs a value (" << opt->value << ")\n";
        return 2;
      }
      value = args[++i];
    }
    out.values[name].push_back(value);
  }
  if (out.positional.size() < min_positional || out.positional.size() > max_positional) {
    std::cerr << "veltrane-fax: wrong number of arguments\n" << spec.helpText();
    return 2;
  }
  return -1;
}

}  // namespace veltrane::cli
