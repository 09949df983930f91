// A small command-line parser for the veltrane-fax commands.
//
//   ArgSpec spec{"convert IN [-o OUT.apf] [--fine]", "Converts an image to an APF fax file."};
//   spec.option("-o", "OUT", "output file").flag("--fine", "high resolution");
//   ParsedArgs a;
//   if (int rc = parseArgs(spec, args, a); rc >= 0) return rc;   // --help or error
//
// Options take their value from the next word or after '='. Unknown options
// are errors; "--" ends option parsing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::cli {

struct ArgSpec {
  struct Opt {
    std::string name;   // "-o", "--fine"
    std::string value;  // empty for flags, else the value's name for help
    std::string help;
  };
  std::string usage;    // "convert IN [-o OUT.apf]"
  std::string purpose;  // one or more lines shown under the usage
  std::vector<Opt> opts;
  std::string alias_of(const std::string& name) const;

  ArgSpec(std::string u, std::string p) : usage(std::move(u)), purpose(std::move(p)) {}
  ArgSpec& option(std::string name, std::string value, std::string help) {
    opts.push_back({std::move(name), std::move(value), std::move(help)});
    return *this;
  }
  ArgSpec& flag(std::string name, std::string help) { return option(std::move(name), "", std::move(help)); }
  std::string helpText() const;
};

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;  // option -> every value given

  bool has(const std::string& name) const { return values.count(name) != 0; }
  std::optional<std::string> get(const std::string& name) const;
  std::string get(const std::string& name, const std::string& fallback) const;
  // Integer value of an option; false (with a message printed) when not a number.
  bool getInt(const std::string& name, long& out) const;
};

// Returns -1 when the caller should go on; otherwise the exit status to return
// (0 after printing --help, 2 after a usage error printed to stderr).
int parseArgs(const ArgSpec& spec, const std::vector<std::string>& args, ParsedArgs& out,
              std::size_t min_positional = 0, std::size_t max_positional = SIZE_MAX);

}  // namespace veltrane::cli
