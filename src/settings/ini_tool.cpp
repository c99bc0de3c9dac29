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

namespace rovalink::settings {
namespace fs = std::filesystem;

namespace {

constexpr char kLineEnd[] = "\r\n";

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

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool isBlank(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
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
  std::string section;  // values before the first section line belong to the empty name
  int badLines = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

    const std::string_view line = trimBlanks(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view name = line.substr(1, line.size() - 2);
      addSection(name);
      section = upperCase(name);
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      if (++badLines <= kMaxReportedBadLines) {
        m_services.LogEvent("IniTool", " Equal sign not found on line " + QuotedLine(line));
      }
      continue;
    }
    setValue(section, upperCase(line.substr(0, equals)), line.substr(equals + 1),
             /*overwrite=*/false);
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

void IniTool::setValue(std::string section, std::string key, std::string_view text,
                       bool overwrite) {
  ValueKey indexKey(std::move(section), std::move(key));
  const auto found = m_index.find(indexKey);
  if (found != m_index.end()) {
    if (overwrite) found->second->text = std::string(text);
    return;
  }
  m_values.push_back(Value{indexKey.first, indexKey.second, std::string(text)});
  m_index.emplace(std::move(indexKey), std::prev(m_values.end()));
}

std::string IniTool::Read(std::string_view header, std::string_view Key,
                          std::string_view defaultvalue) const {
  const auto found = m_index.find(ValueKey(upperCase(header), upperCase(Key)));
  if (found == m_index.end() || found->second->text.empty()) return std::string(defaultvalue);
  return found->second->text;
}

bool IniTool::Holds(std::string_view header, std::string_view Key, std::string_view value) const {
  const auto found = m_index.find(ValueKey(upperCase(header), upperCase(Key)));
  return found != m_index.end() && found->second->text == value;
}

void IniTool::WriteKey(std::string_view header, std::string_view Key, std::string_view newValue) {
  addSection(header);
  setValue(upperCase(header), upperCase(Key), newValue, /*overwrite=*/true);
}

void IniTool::Remove(std::string_view header, std::string_view Key) {
  const auto found = m_index.find(ValueKey(upperCase(header), upperCase(Key)));
  if (found == m_index.end()) return;
  m_values.erase(found->second);
  m_index.erase(found);
}

void IniTool::RemoveSection(std::string_view header) {
  const std::string section = upperCase(header);
  for (auto it = m_values.begin(); it != m_values.end();) {
    if (it->section == section) {
      m_index.erase(ValueKey(it->section, it->key));
      it = m_values.erase(it);
    } else {
      ++it;
    }
  }
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
    if (value.section == section && !isBlank(value.key)) names.push_back(value.key);
  }
  if (names.empty()) names.emplace_back();
  return names;
}

void IniTool::Clear() {
  m_sections.clear();
  m_index.clear();
  m_values.clear();
}

bool IniTool::Save() {
  if (m_filePath.empty()) return reportSaveFailure("no file was loaded", {});

  // The index is ordered by section, then key: exactly the order the file is written in.
  std::string text;
  const std::string* lastSection = nullptr;
  for (const auto& [indexKey, value] : m_index) {
    const bool newSection =
        lastSection == nullptr ? !indexKey.first.empty() : *lastSection != indexKey.first;
    if (newSection) text.append("[").append(indexKey.first).append("]").append(kLineEnd);
    lastSection = &indexKey.first;
    text.append(indexKey.second).append("=").append(value->text).append(kLineEnd);
  }

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
