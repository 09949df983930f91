// The data folder: where the settings file, the tables, the folder "receive"
// and the session logs live. It always ends with '/'.
#pragma once

#include <optional>
#include <string>

namespace veltrane::data {

// Everything the choice depends on, so the rule can be tested without touching
// the process environment.
struct DataFolderSources {
  std::optional<std::string> commandLine;  // --data-dir DIR
  std::optional<std::string> veltraneData; // $VELTRANE_DATA
  std::string programFolder;               // folder of the executable
  bool programFolderHasIni = false;        // it holds VLN.INI (portable use)
  std::optional<std::string> xdgDataHome;  // $XDG_DATA_HOME
  std::optional<std::string> home;         // $HOME
};

// --data-dir, else $VELTRANE_DATA, else the program's folder when it holds
// VLN.INI, else $XDG_DATA_HOME/veltrane/ (default ~/.local/share/veltrane/).
// Empty settings count as unset.
std::string ResolveDataFolder(const DataFolderSources& sources);

// Fills the sources from the environment and the running executable.
DataFolderSources DataFolderSourcesFromEnvironment(const std::optional<std::string>& commandLine);

// The data folder of this run: set once at start (SetDataFolder), otherwise
// resolved from the environment on first use.
const std::string& DataFolder();
void SetDataFolder(const std::string& folder);

// Appends '/' when missing.
std::string WithTrailingSeparator(std::string folder);

}  // namespace veltrane::data
