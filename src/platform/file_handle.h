#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rovalink::platform {

// An open file, closed when dropped. Files the program writes are opened through the factory
// functions below, which never write through a link or into a file someone else prepared.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : m_fd(fd) {}
  ~FileHandle() { close(); }
  FileHandle(FileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool isOpen() const { return m_fd >= 0; }
  // All bytes or false (error set).
  bool write(std::string_view bytes, std::string* error = nullptr);
  // Flushes the data to the disk, so a rename that follows never publishes an empty file.
  bool sync(std::string* error = nullptr);
  // The current size in bytes; -1 when unknown.
  std::int64_t size() const;
  bool close(std::string* error = nullptr);

 private:
  int m_fd = -1;
};

// Creates a new, empty file in target's folder under a fresh name (target + ".tmp" + six random
// characters), exclusively: an existing file or link of that name is never opened. tempPath gets
// the name. The caller renames it over target when complete.
FileHandle CreateFileBeside(const std::string& target, std::string& tempPath, std::string& error);

// Opens a log file for appending, creating it when missing. A link, or anything but a plain
// file, at path is refused.
FileHandle OpenForAppend(const std::string& path, std::string& error);

enum class ReadResult { Ok, TooLarge, Failed };
// Reads the whole plain file at path into text, refusing one larger than maxBytes (without
// reading it all). With followLinks false, a link as the last element is refused.
ReadResult ReadSmallFile(const std::string& path, std::uintmax_t maxBytes, bool followLinks,
                         std::string& text, std::string& error);

}  // namespace rovalink::platform
