#pragma once

#include <set>
#include <string>
#include <string_view>

#include "settings/services.h"

namespace rovalink::settings {

// The settings object: read and write access to the INI files in the settings folder, the
// application folder and the version text. Every call loads its file afresh; nothing is cached.
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

  // The application folder without a trailing separator.
  const std::string& GetAppPath() const { return m_appPath; }

  // major.minor.revision of this build, each in decimal.
  std::string Version() const { return VersionText(); }
  static std::string VersionText();

  // The described host reports no uptime; always empty text.
  std::string SystemUpTime() const { return {}; }

 private:
  std::string settingsFilePath(std::string_view fileName) const;

  Services& m_services;
  std::string m_appPath;
  mutable std::set<std::string> m_checkedFiles;
};

}  // namespace rovalink::settings
