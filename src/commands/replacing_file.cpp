#include "commands/replacing_file.h"

#include <filesystem>
#include <system_error>

namespace rovalink::commands {

bool ReplacingFile::open(const std::string& path, std::string* error) {
  close();
  m_path = path;
  m_failed = false;
  std::string reason;
  m_file = platform::CreateFileBeside(path, m_tempPath, reason);
  if (!m_file.isOpen()) {
    if (error) *error = reason;
    return false;
  }
  return true;
}

bool ReplacingFile::write(std::string_view text) {
  if (!m_file.isOpen()) return false;
  if (!m_file.write(text)) m_failed = true;
  return !m_failed;
}

bool ReplacingFile::close(std::string* error) {
  if (!m_file.isOpen()) return true;
  const bool closed = m_file.close();
  std::error_code ec;
  if (!closed || m_failed) {
    if (error) *error = m_tempPath + ": write failed";
    // The real name still holds the old contents; every attempt has its own temporary name, so
    // a failed one must not stay behind.
    std::filesystem::remove(m_tempPath, ec);
    return false;
  }
  std::filesystem::rename(m_tempPath, m_path, ec);
  if (ec) {
    if (error) *error = m_path + ": " + ec.message();
    std::filesystem::remove(m_tempPath, ec);
    return false;
  }
  return true;
}

}  // namespace rovalink::commands
