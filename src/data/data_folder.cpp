#include "data/data_folder.h"

#include <cstdlib>
#include <filesystem>

namespace veltrane::data {
namespace {

bool isSet(const std::optional<std::string>& value) { return value && !value->empty(); }

std::optional<std::string> environment(const char* name) {
  if (const char* value = std::getenv(name)) return std::string(value);
  return std::nullopt;
}

std::string& currentFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

std::string WithTrailingSeparator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string ResolveDataFolder(const DataFolderSources& s) {
  if (isSet(s.commandLine)) return WithTrailingSeparator(*s.commandLine);
  if (isSet(s.veltraneData)) return WithTrailingSeparator(*s.veltraneData);
  if (s.programFolderHasIni && !s.programFolder.empty()) return WithTrailingSeparator(s.programFolder);
  if (isSet(s.xdgDataHome)) return WithTrailingSeparator(*s.xdgDataHome) + "veltrane/";
  const std::string home = isSet(s.home) ? *s.home : std::string(".");
  return WithTrailingSeparator(home) + ".local/share/veltrane/";
}

DataFolderSources DataFolderSourcesFromEnvironment(const std::optional<std::string>& commandLine) {
  DataFolderSources s;
  s.commandLine = commandLine;
  s.veltraneData = environment("VELTRANE_DATA");
  s.xdgDataHome = environment("XDG_DATA_HOME");
  s.home = environment("HOME");
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    s.programFolder = exe.parent_path().string();
    s.programFolderHasIni = std::filesystem::is_regular_file(exe.parent_path() / "VLN.INI", ec);
  }
  return s;
}

const std::string& DataFolder() {
  std::string& folder = currentFolder();
  if (folder.empty()) folder = ResolveDataFolder(DataFolderSourcesFromEnvironment(std::nullopt));
  return folder;
}

void SetDataFolder(const std::string& folder) { currentFolder() = WithTrailingSeparator(folder); }

}  // namespace veltrane::data
