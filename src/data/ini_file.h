// A reader and writer of profile (INI) text that keeps what it does not change.
//
// The file is held as its lines: an optional preamble, then sections headed by
// "[Name]". Key and section lookups ignore ASCII case, as the profile format
// does. Writing a key replaces its value in place, or appends it after the last
// key of its section, or appends a new section at the end of the file. Comment
// lines, blank lines, unknown sections and unknown keys are written back
// exactly as read, so a program that shares the file loses nothing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::data {

class IniFile {
 public:
  // Longest text the reader hands back; longer values are cut at this length
  // (on a UTF-8 character boundary).
  static constexpr std::size_t kMaxTextLength = 1023;
  // Text beyond this size is ignored, so a huge or hostile file costs bounded
  // memory and time; such a file is never written back (save() fails).
  static constexpr std::size_t kMaxFileSize = 4 << 20;

  IniFile() = default;

  // Parses profile text; never fails (unreadable lines are kept verbatim).
  static IniFile parse(std::string_view text);
  // Reads a file; a missing or unreadable file gives an empty IniFile.
  static IniFile load(const std::string& path);

  std::string text() const;
  bool truncated() const { return truncated_; }
  // Writes the whole file safely (temporary file, then rename). Returns false
  // when the file cannot be written.
  bool save(const std::string& path) const;

  // The value of a key, whitespace-trimmed and cut at kMaxTextLength;
  // nullopt when the section or key is missing.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;
  // Sets a key's value. Line breaks in the value are turned into spaces: the
  // format has no way to store them and they would otherwise start new keys or
  // sections.
  void setValue(std::string_view section, std::string_view key, std::string_view value);

  bool hasSection(std::string_view section) const;
  // Section names in file order, as spelled in the file.
  std::vector<std::string> sectionNames() const;
  // Key names of a section in file order.
  std::vector<std::string> keyNames(std::string_view section) const;

 private:
  struct Line {
    std::string raw;    // the line as read or as written, without its line break
    std::string key;    // trimmed key; empty for comments, blanks and headers
    std::string value;  // trimmed value of a key line
  };
  struct Section {
    std::string name;          // empty for the preamble before the first header
    std::vector<Line> lines;   // lines after the header (the header is rebuilt)
    std::string headerRaw;     // the header line as read
  };

  Section* findSection(std::string_view name);
  const Section* findSection(std::string_view name) const;

  std::vector<Section> sections_;  // sections_[0] is the preamble
  std::string newline_ = "\n";     // the file's own line break, kept on write
  bool truncated_ = false;         // the text was longer than kMaxFileSize
};

// ASCII case-insensitive equality, as profile section and key names compare.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace veltrane::data
