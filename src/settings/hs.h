#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "settings/services.h"

namespace rovalink::settings {

class IniTool;

// The settings object: read and write access to the INI files in the settings folder, the
// application folder and the version text. A file is parsed once and kept while it stays
// unchanged on disk (one stat() per read tells), so a hand edit counts from the next read.
class hs {
 public:
  explicit hs(Services& services);

  // The application folder, fixed by InitXap at start-up.
  void setAppPath(std::string folder);

  // Value of Key in section Group of File (a bare name inside the settings folder; empty means
  // "settings.ini"); Default when the key, its value or the file is missing. The first read of
  // a file reports its keys that the program never reads (stderr, warning).
  std::string GetINISetting(std::string_view Group, std::string_view Key, std::string_view Default,
                            std::string_view File = {}) const;

  // Writes Key = Value into section Group of File (that one line, the rest of the file stays)
  // and saves the file at once; when the file already holds exactly that value, nothing is
  // written. Returns false
  // (after logging) when the file could not be read or saved; the file is then left as it was.
  bool SaveIniSetting(std::string_view Group, std::string_view Key, std::string_view Value,
                      std::string_view File);

  // The parsed file at path (any path; a missing one is not created), or nullptr when it is no
  // regular file or cannot be read.
  std::shared_ptr<const IniTool> ParsedFile(const std::string& path) const;

  // The application folder without a trailing separator.
  const std::string& GetAppPath() const { return m_appPath; }
  // fileName in the settings folder (Config below the application folder).
  std::string settingsFilePath(std::string_view fileName) const;

  // major.minor.revision of this build, each in decimal.
  std::string Version() const { return VersionText(); }
  static std::string VersionText();

  // The described host reports no uptime; always empty text.
  std::string SystemUpTime() const { return {}; }

 private:
  // What stat() says of a file; any change means it may hold other text.
  struct FileStamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0, changedNs = 0;
    bool operator==(const FileStamp&) const = default;
  };
  struct ParsedEntry {
    FileStamp stamp;
    std::shared_ptr<const IniTool> store;
  };

  Services& m_services;
  std::string m_appPath;
  mutable std::set<std::string> m_checkedFiles;
  mutable std::map<std::string, ParsedEntry, std::less<>> m_parsed;
};

}  // namespace rovalink::settings
