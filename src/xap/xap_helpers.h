#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/host_info.h"
#include "settings/hs.h"
#include "settings/services.h"
#include "xap/error_log.h"

namespace rovalink::xap {

// The program word: names the error log, the program's data folder and program-level entries.
inline constexpr std::string_view kProgramWord = "xapqbtSpykee";
inline constexpr std::string_view kDefaultUid = "FF.0065:00";

// The application folder: the --app-dir option, else the ROVALINK_HOME variable, else the folder
// of the executable. Empty inputs count as not given. No trailing separator.
std::string ApplicationFolder(std::string_view appDirOption, std::string_view homeVariable,
                              std::string_view executablePath);

// Application folder, separator, the executable's file name.
std::string ProgramFilePath(std::string_view appFolder, std::string_view executablePath);

// The folders and files below the application folder.
struct AppLayout {
  explicit AppLayout(const std::string& appFolder);

  std::string appFolder;          // no trailing separator
  std::string configFolder;       // Config: the INI files
  std::string dataFolder;         // Data
  std::string programDataFolder;  // Data/xapqbtSpykee: frames, path and proof files
  std::string htmlFolder;         // html: the web pages' files
  std::string errorLogFile;       // Data/xapqbtSpykee.txt
};

// One error-log line without its line end:
// "yyyy/mm/dd hh:mm:ss | first second line description".
// Lines are not numbered in this code, so the line number is always 0.
std::string FormatErrorLogLine(const platform::LocalDateTime& now, std::string_view first,
                               std::string_view second, std::string_view description);

// What the start-up knows about where the program was started from.
struct LaunchLocation {
  std::string appDirOption;    // --app-dir DIR, empty when not given
  std::string homeVariable;    // ROVALINK_HOME, empty when not set
  std::string executablePath;  // absolute path of the running executable
};

// The program-wide xAP helpers: start-up paths and interface settings, the error log, the
// event log and folder creation.
class XapHelpers : public settings::Services, public ErrorLog {
 public:
  XapHelpers(platform::Clock& clock, platform::HostInfo& host);

  // Fixes the application folder (also in settings) and the program file path, creates the
  // Config and Data folders and reads the xAP interface settings from "qbtXap.ini". Returns
  // false (after logging) when a step failed; the remaining steps are then skipped.
  bool InitXap(const LaunchLocation& launch, settings::hs& settings);

  // The computer's name, asked from the system once.
  const std::string& ComputerName();

  const std::string& AppFolder() const { return m_appFolder; }
  const std::string& ProgramFile() const { return m_programFile; }
  const std::string& InterfaceAddress() const { return m_interfaceAddress; }
  const std::string& BroadcastAddress() const { return m_broadcastAddress; }
  std::string DefaultUID() const { return std::string(kDefaultUid); }

  // Appends one line to Data/xapqbtSpykee.txt; a line that cannot be written is lost (and
  // reported on stderr).
  void LogError(const std::string& first, const std::string& second,
                const std::string& description = {}) override;

  // Events belong on the xAP bus as "Homeseer.Event"; until the bus sender is wired in here,
  // they go to stderr.
  void LogEvent(const std::string& type, const std::string& data,
                const std::string& description = {}) override;

  // Creates every missing folder of an absolute path except its last element; a relative path
  // does nothing. A failure is reported as event " CreateFolders <folder>" and stops.
  bool CreateFolders(const std::string& path) override;

 private:
  platform::Clock& m_clock;
  platform::HostInfo& m_host;

  std::optional<std::string> m_computerName;
  std::string m_appFolder;
  std::string m_programFile;
  std::string m_interfaceAddress;
  std::string m_broadcastAddress;
};

}  // namespace rovalink::xap
