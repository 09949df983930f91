#include "data/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace veltrane::data {
namespace {

constexpr std::string_view kSpaces = " \t";

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(kSpaces);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kSpaces);
  return s.substr(first, last - first + 1);
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Cuts at `limit` bytes without splitting a UTF-8 sequence.
std::string cutText(std::string_view s, std::size_t limit) {
  if (s.size() <= limit) return std::string(s);
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return std::string(s.substr(0, end));
}

std::string withoutLineBreaks(std::string_view value) {
  std::string out(value);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

// Header name of a "[Name]" line, or nullopt when the line is not a header.
std::optional<std::string_view> headerName(std::string_view trimmed) {
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  const auto close = trimmed.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(trimmed.substr(1, close - 1));
}

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The file a save must replace: the target of a symbolic link rather than the
// link itself, so a linked settings file stays linked.
std::filesystem::path saveTarget(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p(path);
  if (std::filesystem::is_symlink(p, ec)) {
    auto resolved = std::filesystem::weakly_canonical(p, ec);
    if (!ec) return resolved;
  }
  return p;
}

}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  ini.sections_.push_back({});
  if (text.size() > kMaxFileSize) {
    text = text.substr(0, kMaxFileSize);
    ini.truncated_ = true;
  }
  const auto firstBreak = text.find('\n');
  if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r')
    ini.newline_ = "\r\n";

  // A line ends at LF, CR LF or a lone CR: a CR left inside a value would be
  // written back as a line break and change what the file says.
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++pos;

    const std::string_view trimmed = trim(raw);
    if (auto name = headerName(trimmed)) {
      ini.sections_.push_back({std::string(*name), {}, std::string(raw)});
      continue;
    }
    Line line{std::string(raw), {}, {}};
    const auto eq = trimmed.find('=');
    const bool comment = !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
    if (!comment && eq != std::string_view::npos) {
      line.key = std::string(trim(trimmed.substr(0, eq)));
      if (!line.key.empty()) line.value = std::string(trim(trimmed.substr(eq + 1)));
    }
    ini.sections_.back().lines.push_back(std::move(line));
  }
  return ini;
}

IniFile IniFile::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return parse({});
  // One byte more than the limit tells parse() that the file was cut.
  std::string text(kMaxFileSize + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return parse(text);
}

std::string IniFile::text() const {
  std::string out;
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (i > 0) out += s.headerRaw + newline_;
    for (const Line& line : s.lines) out += line.raw + newline_;
  }
  return out;
}

bool IniFile::save(const std::string& path) const {
  // Writing back only the part that was read would destroy the rest.
  if (truncated_) return false;
  const std::filesystem::path target = saveTarget(path);
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  // A settings file the user made read-only stays untouched.
  if (exists && ::access(target.c_str(), W_OK) != 0) return false;

  const std::string temp = target.string() + ".tmp" + std::to_string(::getpid());
  const mode_t mode = exists ? (st.st_mode & 07777) : 0644;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = writeAll(fd, text()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok && exists) (void)::chmod(temp.c_str(), mode);
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable, so a power cut cannot bring back the old file.
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}

IniFile::Section* IniFile::findSection(std::string_view name) {
  for (std::size_t i = 1; i < sections_.size(); ++i)
    if (equalsIgnoreCase(sections_[i].name, name)) return &sections_[i];
  return nullptr;
}

const IniFile::Section* IniFile::findSection(std::string_view name) const {
  return const_cast<IniFile*>(this)->findSection(name);
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
  const Section* s = findSection(section);
  if (!s) return std::nullopt;
  for (const Line& line : s->lines)
    if (!line.key.empty() && equalsIgnoreCase(line.key, key))
      return std::string(trim(cutText(line.value, kMaxTextLength)));
  return std::nullopt;
}

void IniFile::setValue(std::string_view section, std::string_view key, std::string_view value) {
  if (sections_.empty()) sections_.push_back({});
  const std::string clean = withoutLineBreaks(value);
  Section* s = findSection(section);
  if (!s) {
    sections_.push_back({std::string(section), {}, "[" + std::string(section) + "]"});
    s = &sections_.back();
  }
  for (Line& line : s->lines) {
    if (!line.key.empty() && equalsIgnoreCase(line.key, key)) {
      line.value = clean;
      line.raw = line.key + "=" + clean;
      return;
    }
  }
  // New keys go after the section's last non-blank line, so blank lines that
  // separate sections stay where they are.
  auto at = s->lines.end();
  while (at != s->lines.begin() && trim(std::prev(at)->raw).empty()) --at;
  s->lines.insert(at, Line{std::string(key) + "=" + clean, std::string(key), clean});
}

bool IniFile::hasSection(std::string_view section) const { return findSection(section) != nullptr; }

std::vector<std::string> IniFile::sectionNames() const {
  std::vector<std::string> names;
  for (std::size_t i = 1; i < sections_.size(); ++i) names.push_back(sections_[i].name);
  return names;
}

std::vector<std::string> IniFile::keyNames(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* s = findSection(section))
    for (const Line& line : s->lines)
      if (!line.key.empty()) names.push_back(line.key);
  return names;
}

}  // namespace veltrane::data
