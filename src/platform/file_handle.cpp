#include "platform/file_handle.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rovalink::platform {
namespace {

std::string systemError(const std::string& what, int code) {
  return what + ": " + std::strerror(code);
}

// O_NONBLOCK keeps a FIFO planted under a file's name from blocking the program in open().
constexpr int kCommonFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Opened with O_NONBLOCK; plain files ignore it, but clear it so that reads and writes behave
// the ordinary way everywhere.
bool plainFileOrClose(int& fd, const std::string& path, std::string& error) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = path + ": not a plain file";
    ::close(fd);
    fd = -1;
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return true;
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

bool FileHandle::write(std::string_view bytes, std::string* error) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(m_fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (error) *error = systemError("cannot write", errno);
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool FileHandle::sync(std::string* error) {
  if (::fsync(m_fd) == 0) return true;
  if (error) *error = systemError("cannot sync", errno);
  return false;
}

std::int64_t FileHandle::size() const {
  struct stat info {};
  if (m_fd < 0 || ::fstat(m_fd, &info) != 0) return -1;
  return info.st_size;
}

bool FileHandle::close(std::string* error) {
  if (m_fd < 0) return true;
  const int result = ::close(m_fd);
  m_fd = -1;
  if (result == 0) return true;
  if (error) *error = systemError("cannot close", errno);
  return false;
}

FileHandle CreateFileBeside(const std::string& target, std::string& tempPath, std::string& error) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = target + ".tmp";
    for (int i = 0; i < 6; ++i) tempPath += kLetters[pick(random)];
    // Mode 0666 less the umask: the same as any file the program creates.
    const int fd =
        ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return FileHandle(fd);
    if (errno != EEXIST) {
      error = systemError(tempPath, errno);
      return FileHandle();
    }
  }
  error = target + ": no free temporary name";
  return FileHandle();
}

FileHandle OpenForAppend(const std::string& path, std::string& error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | kCommonFlags, 0666);
  if (fd < 0) {
    error = systemError(path, errno);
    return FileHandle();
  }
  if (!plainFileOrClose(fd, path, error)) return FileHandle();
  return FileHandle(fd);
}

ReadResult ReadSmallFile(const std::string& path, std::uintmax_t maxBytes, bool followLinks,
                         std::string& text, std::string& error) {
  text.clear();
  int fd = ::open(path.c_str(), O_RDONLY | kCommonFlags | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    error = systemError("cannot open", errno);
    return ReadResult::Failed;
  }
  if (!plainFileOrClose(fd, path, error)) return ReadResult::Failed;
  FileHandle file(fd);
  // Read in blocks rather than trusting the size: the file may grow while it is read.
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = systemError("cannot read", errno);
      text.clear();
      return ReadResult::Failed;
    }
    if (got == 0) return ReadResult::Ok;
    if (text.size() + static_cast<std::size_t>(got) > maxBytes) {
      error = "larger than " + std::to_string(maxBytes) + " bytes";
      text.clear();
      return ReadResult::TooLarge;
    }
    text.append(block, static_cast<std::size_t>(got));
  }
}

}  // namespace rovalink::platform
