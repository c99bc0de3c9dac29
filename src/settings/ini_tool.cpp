#include "settings/ini_tool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "platform/file_handle.h"
#include "settings/log_text.h"
#include "settings/text_trim.h"

namespace rovalink::settings {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr const char* kBlanks = " \t";

// Names are Latin-1 text; upper-case the ASCII and the accented Latin-1 letters alike, without
// consulting the process locale.
std::string upperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
      c = static_cast<char>(byte - 0x20);
    }
  }
  return result;
}

// Blanks around names and values do not count, as with the profile API.
std::string_view trimBlanks(std::string_view text) {
  return trimmedOf(text, kBlanks);
}

std::pair<std::string, std::string> valueKey(std::string_view section, std::string_view key) {
  return {upperCase(section), upperCase(trimBlanks(key))};
}

// A value in a pair of quotes reads without them, as with the profile API: the one way to keep
// blanks at its ends.
std::string unquoted(std::string_view value) {
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return std::string(quoted ? value.substr(1, value.size() - 2) : value);
}

std::string quotedIfNeeded(std::string_view value) {
  if (value.empty() || (trimBlanks(value).size() == value.size() && unquoted(value) == value)) {
    return std::string(value);
  }
  return "\"" + std::string(value) + "\"";
}

std::string systemError(const char* what, int code) {
  return std::string(what) + ": " + std::strerror(code);
}

}  // namespace

bool writeFileToDisk(const std::string& path, std::string_view content, std::string& error) {
  // The file was just made under a fresh name; a link put there since is not written through.
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = systemError("cannot open", errno);
    return false;
  }
  platform::FileHandle file(fd);
  // The rename that follows must not publish a file whose data is still only in the cache.
  return file.write(content, &error) && file.sync(&error) && file.close(&error);
}

IniTool::IniTool(Services& services, FileWriter writer)
    : m_services(services), m_writer(std::move(writer)) {}

bool IniTool::Load(const std::string& fPath) {
  Clear();
  m_filePath = fPath;

  std::error_code ec;
  const auto status = fs::status(fPath, ec);
  if (!fs::exists(status)) {
    m_services.CreateFolders(fPath);
    // Exclusively: a dangling link in the file's place is not followed to create its target.
    const int fd =
        ::open(fPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      m_services.LogError(kProgramWord, "IniTool Load " + fPath,
                          systemError("cannot create", errno));
      return false;
    }
    ::close(fd);
    return true;
  }
  if (fs::is_directory(status)) {
    m_services.LogError(kProgramWord, "IniTool Load " + fPath, "the path is a folder");
    return false;
  }

  std::string text;
  std::string error;
  switch (platform::ReadSmallFile(fPath, kMaxFileBytes, /*followLinks=*/true, text, error)) {
    case platform::ReadResult::Ok:
      return loadText(text);
    case platform::ReadResult::TooLarge:
      // Not loaded at all: its values read as their defaults, and nothing saves over it.
      m_services.LogError(kProgramWord, "IniTool Load " + fPath, "file " + error);
      return false;
    case platform::ReadResult::Failed:
      break;
  }
  m_services.LogError(kProgramWord, "IniTool Load " + fPath, error);
  return false;
}

bool IniTool::loadText(std::string_view text) {
  m_byteOrderMark = text.starts_with(kByteOrderMark);
  if (m_byteOrderMark) text.remove_prefix(kByteOrderMark.size());
  const auto firstEnd = text.find('\n');
  if (firstEnd != std::string_view::npos) {
    m_lineEnd = firstEnd > 0 && text[firstEnd - 1] == '\r' ? kCrLf : "\n";
  }

  std::string section;  // values before the first section line belong to the empty name
  int badLines = 0;
  for (int number = 1; !text.empty(); ++number) {
    const auto end = text.find('\n');
    Line line;
    line.number = number;
    std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (end != std::string_view::npos) line.end = "\n";
    if (!raw.empty() && raw.back() == '\r') {
      raw.remove_suffix(1);
      line.end.insert(0, "\r");
    }
    line.text = std::string(raw);

    const std::string_view trimmed = trimBlanks(raw);
    const auto close = trimmed.rfind(']');
    const auto equals = trimmed.find('=');
    if (trimmed.empty() || trimmed.front() == ';') {
      // a comment or a blank line: kept as it is
    } else if (trimmed.front() == '[' && close != std::string_view::npos) {
      // Whatever follows the "]" (a comment, say) does not count, as with the profile API.
      const std::string_view name = trimmed.substr(1, close - 1);
      addSection(name);
      section = upperCase(name);
      line.kind = Kind::Section;
      line.section = section;
    } else if (equals != std::string_view::npos) {
      line.kind = Kind::Value;
      line.section = section;
      line.key = upperCase(trimBlanks(trimmed.substr(0, equals)));
    } else if (++badLines <= kMaxReportedBadLines) {
      m_services.LogEvent("IniTool", " Equal sign not found on line " + QuotedLine(trimmed));
    }
    m_lines.push_back(std::move(line));
    const auto added = std::prev(m_lines.end());
    if (added->kind == Kind::Value) {
      ValueKey name(added->section, added->key);
      if (!m_index.contains(name)) {
        m_values.push_back(Value{added, unquoted(trimBlanks(trimmed.substr(equals + 1)))});
        m_index.emplace(std::move(name), std::prev(m_values.end()));
      }
    }
  }
  if (badLines > kMaxReportedBadLines) {
    m_services.LogEvent("IniTool", " Equal sign not found on " +
                                       std::to_string(badLines - kMaxReportedBadLines) +
                                       " more lines of " + QuotedLine(m_filePath));
  }
  return true;
}

void IniTool::addSection(std::string_view name) {
  std::string upper = upperCase(name);
  const bool known = std::any_of(m_sections.begin(), m_sections.end(),
                                 [&](const auto& entry) { return entry.first == upper; });
  if (!known) m_sections.emplace_back(std::move(upper), std::string(name));
}

std::string IniTool::Read(std::string_view header, std::string_view Key,
                          std::string_view defaultvalue) const {
  const auto found = m_index.find(valueKey(header, Key));
  if (found == m_index.end() || found->second->text.empty()) return std::string(defaultvalue);
  return found->second->text;
}

bool IniTool::Holds(std::string_view header, std::string_view Key, std::string_view value) const {
  const auto found = m_index.find(valueKey(header, Key));
  return found != m_index.end() && found->second->text == value;
}

bool IniTool::WriteKey(std::string_view header, std::string_view Key, std::string_view newValue) {
  const std::string_view key = trimBlanks(Key);
  const auto breaksLine = [](std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
  };
  if (breaksLine(header) || breaksLine(Key) || breaksLine(newValue) || key.empty() ||
      key.front() == '[' || key.front() == ';' || key.find('=') != std::string_view::npos) {
    return false;
  }

  ValueKey name = valueKey(header, key);
  const auto found = m_index.find(name);
  if (found != m_index.end()) {
    // Only the value changes: indentation, the key's spelling and the blanks around "=" stay.
    std::string& text = found->second->line->text;
    const auto equals = text.find('=');
    auto valueStart = text.find_first_not_of(kBlanks, equals + 1);
    if (valueStart == std::string::npos) valueStart = equals + 1;
    text.replace(valueStart, std::string::npos, quotedIfNeeded(newValue));
    found->second->text = std::string(newValue);
    return true;
  }

  // After the last value of the section's first block, else right after its section line; the
  // nameless section is the top of the file.
  bool inSection = name.first.empty();
  bool sectionFound = inSection;
  auto before = m_lines.begin();
  for (auto it = m_lines.begin(); it != m_lines.end(); ++it) {
    if (it->kind == Kind::Section) {
      if (inSection) break;
      inSection = sectionFound = it->section == name.first;
      if (inSection) before = std::next(it);
    } else if (inSection && it->kind == Kind::Value) {
      before = std::next(it);
    }
  }
  if (!sectionFound) {
    addSection(header);
    before = insertLine(m_lines.end(), "[" + std::string(header) + "]");
    before->kind = Kind::Section;
    before->section = name.first;
    ++before;
  }
  const auto line = insertLine(before, std::string(key) + "=" + quotedIfNeeded(newValue));
  line->kind = Kind::Value;
  line->section = name.first;
  line->key = name.second;
  m_values.push_back(Value{line, std::string(newValue)});
  m_index.emplace(std::move(name), std::prev(m_values.end()));
  return true;
}

IniTool::LineList::iterator IniTool::insertLine(LineList::iterator before, std::string text) {
  if (before != m_lines.begin()) {
    Line& previous = *std::prev(before);
    if (previous.end.empty() || previous.end == "\r") previous.end = m_lineEnd;
  }
  Line line;
  line.text = std::move(text);
  line.end = m_lineEnd;
  return m_lines.insert(before, std::move(line));
}

void IniTool::Remove(std::string_view header, std::string_view Key) {
  const ValueKey name = valueKey(header, Key);
  removeValueLines(
      [&](const Line& line) { return line.section == name.first && line.key == name.second; });
}

void IniTool::RemoveSection(std::string_view header) {
  const std::string section = upperCase(header);
  removeValueLines([&](const Line& line) { return line.section == section; });
}

void IniTool::removeValueLines(const std::function<bool(const Line&)>& match) {
  for (auto it = m_values.begin(); it != m_values.end();) {
    if (match(*it->line)) {
      m_index.erase(ValueKey(it->line->section, it->line->key));
      it = m_values.erase(it);
    } else {
      ++it;
    }
  }
  // Also the values a first one hid, so none of them comes back when the file is read again.
  m_lines.remove_if([&](const Line& line) { return line.kind == Kind::Value && match(line); });
}

std::vector<std::string> IniTool::Headers() const {
  std::vector<std::string> names;
  names.reserve(m_sections.size());
  for (const auto& entry : m_sections) names.push_back(entry.second);
  return names;
}

std::vector<std::string> IniTool::Keys(std::string_view header) const {
  const std::string section = upperCase(header);
  std::vector<std::string> names;
  for (const auto& value : m_values) {
    if (value.line->section == section && !value.line->key.empty()) {
      names.push_back(value.line->key);
    }
  }
  if (names.empty()) names.emplace_back();
  return names;
}

std::vector<IniTool::ValueLine> IniTool::ValueLines() const {
  std::vector<ValueLine> lines;
  for (const auto& line : m_lines) {
    if (line.kind != Kind::Value || line.number == 0) continue;
    const std::string_view text = line.text;
    lines.push_back(
        {line.section, std::string(trimBlanks(text.substr(0, text.find('=')))), line.number});
  }
  return lines;
}

void IniTool::Clear() {
  m_lines.clear();
  m_byteOrderMark = false;
  m_lineEnd = kCrLf;
  m_sections.clear();
  m_index.clear();
  m_values.clear();
}

bool IniTool::Save() {
  if (m_filePath.empty()) return reportSaveFailure("no file was loaded", {});

  std::string text(m_byteOrderMark ? kByteOrderMark : std::string_view{});
  for (const auto& line : m_lines) text.append(line.text).append(line.end);

  std::string tempPath;
  std::string error;
  if (!platform::CreateFileBeside(m_filePath, tempPath, error).isOpen()) {
    return reportSaveFailure(error, {});
  }
  if (!m_writer(tempPath, text, error)) return reportSaveFailure(error, tempPath);

  std::error_code ec;
  if (fs::exists(m_filePath, ec)) {
    if (!backUp(error)) return reportSaveFailure("cannot copy to _bck: " + error, tempPath);
    // Keep the file's permissions; the new file is otherwise created with the default mode.
    const auto permissions = fs::status(m_filePath, ec).permissions();
    if (!ec) fs::permissions(tempPath, permissions, ec);
  }
  fs::rename(tempPath, m_filePath, ec);
  if (ec) return reportSaveFailure("cannot replace the file: " + ec.message(), tempPath);
  return true;
}

bool IniTool::backUp(std::string& error) const {
  // Copied through a fresh file renamed into place, so a link named like the copy is replaced,
  // never written through.
  std::string old;
  if (platform::ReadSmallFile(m_filePath, kMaxFileBytes, true, old, error) !=
      platform::ReadResult::Ok) {
    return false;
  }
  const std::string backup = m_filePath + "_bck";
  std::string tempPath;
  platform::FileHandle file = platform::CreateFileBeside(backup, tempPath, error);
  if (!file.isOpen()) return false;
  std::error_code ec;
  if (file.write(old, &error) && file.sync(&error) && file.close(&error)) {
    const auto permissions = fs::status(m_filePath, ec).permissions();
    if (!ec) fs::permissions(tempPath, permissions, ec);
    fs::rename(tempPath, backup, ec);
    if (!ec) return true;
    error = ec.message();
  }
  fs::remove(tempPath, ec);
  return false;
}

bool IniTool::reportSaveFailure(const std::string& description, const std::string& tempPath) {
  // A partial temporary file goes; anything else found at that path is not ours to delete.
  std::error_code ec;
  if (!tempPath.empty() && !fs::is_directory(fs::symlink_status(tempPath, ec))) {
    fs::remove(tempPath, ec);
  }
  m_services.LogError(kProgramWord, "IniTool Save " + m_filePath, description);
  return false;
}

}  // namespace rovalink::settings
