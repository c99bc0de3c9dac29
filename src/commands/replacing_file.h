#pragma once

#include <string>
#include <string_view>

#include "platform/file_handle.h"

namespace rovalink::commands {

// A file written under a fresh temporary name in the same folder, created exclusively (never
// through a link or a file prepared under that name), and renamed over the real name when
// closed, so a crash never leaves half a file where a complete one was. Bytes are written as
// given (8-bit text), unbuffered, so a run can be followed while it goes on.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile() { close(); }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Starts a new, empty file that will become path. False (with error set) on failure.
  bool open(const std::string& path, std::string* error = nullptr);
  bool isOpen() const { return m_file.isOpen(); }
  const std::string& path() const { return m_path; }

  // False when the bytes could not be written.
  bool write(std::string_view text);

  // Finishes the file and puts it in place of path. False (with error set) on failure.
  bool close(std::string* error = nullptr);

 private:
  platform::FileHandle m_file;
  std::string m_path;
  std::string m_tempPath;
  bool m_failed = false;
};

}  // namespace rovalink::commands
