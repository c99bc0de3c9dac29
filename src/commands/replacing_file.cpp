#include "commands/replacing_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace rovalink::commands {

bool ReplacingFile::open(const std::string& path, std::string* error) {
  close();
  m_path = path;
  m_tempPath = path + ".tmp";
  m_failed = false;
  m_file = std::fopen(m_tempPath.c_str(), "wb");
  if (m_file == nullptr) {
    if (error) *error = m_tempPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ReplacingFile::write(std::string_view text) {
  if (m_file == nullptr) return false;
  if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size() || std::fflush(m_file) != 0) {
    m_failed = true;
    return false;
  }
  return true;
}

bool ReplacingFile::close(std::string* error) {
  if (m_file == nullptr) return true;
  const bool closed = std::fclose(m_file) == 0;
  m_file = nullptr;
  if (!closed || m_failed) {
    if (error) *error = m_tempPath + ": write failed";
    // Keep the temporary file for inspection; the real name still holds the old contents.
    return false;
  }
  std::error_code ec;
  std::filesystem::rename(m_tempPath, m_path, ec);
  if (ec) {
    if (error) *error = m_path + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace rovalink::commands
