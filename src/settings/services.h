#pragma once

#include <string>

namespace rovalink::settings {

// The program word: the first text of the program's own error-log lines and the type of its
// events; it also names the error log and the program's data folder.
inline constexpr const char* kProgramWord = "xapqbtSpykee";

// What the settings store needs from the program-wide helpers: folder creation and the two
// logs. The xAP helpers implement it; tests use a recording fake. The signature of LogError
// matches xap::ErrorLog's, so one implementation serves both.
class Services {
 public:
  virtual ~Services() = default;

  // Appends one error-log line; description is the caught error's text (empty: none).
  virtual void LogError(const std::string& first, const std::string& second,
                        const std::string& description = {}) = 0;

  // Publishes one event (type, data); a non-empty description is appended to the data as the
  // pending error.
  virtual void LogEvent(const std::string& type, const std::string& data,
                        const std::string& description = {}) = 0;

  // Creates every missing folder of path except its last element. Returns false (after
  // reporting the failure) when a folder could not be made.
  virtual bool CreateFolders(const std::string& path) = 0;
};

}  // namespace rovalink::settings
