#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/host_info.h"
#include "settings/hs.h"
#include "settings/instance_name.h"
#include "settings/services.h"
#include "xap/error_log.h"
#include "xap/xap_queued_message.h"
#include "xap/xap_sender.h"

namespace rovalink::xap {

inline constexpr std::string_view kProgramWord = settings::kProgramWord;
inline constexpr std::string_view kDefaultUid = "FF.0065:00";

// The application folder: the --app-dir option, else the ROVALINK_HOME variable, else the folder
// of the executable. Empty inputs count as not given. No trailing separator.
std::string ApplicationFolder(std::string_view appDirOption, std::string_view homeVariable,
                              std::string_view executablePath);

using settings::ChooseInstanceName;
inline constexpr std::string_view kXapSourcePrefix = "qbt.Spykee.";

// The program's UID ("FF.dddd:00"; devices put their own two digits after ":"). xAP wants UIDs
// unique on the bus, so two instances must not share one: the "[Interface] UID" setting when
// it has that form (any case, ":00" may be left out); else, for an instance named by the
// Instance setting, four hex digits derived from that name (FNV-1a folded to 16 bits, never
// 0065), the same at every start; else, for the default instance, FF.0065:00.
std::string ChooseProgramUid(std::string_view uidSetting, std::string_view instanceSetting);

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
  std::string executablePath;  // real absolute path of the running executable
};

// The program-wide xAP helpers: start-up paths and interface settings, the error log, the
// event log and folder creation.
class XapHelpers : public settings::Services, public ErrorLog {
 public:
  XapHelpers(platform::Clock& clock, platform::HostInfo& host);
  // Writes a pending "last line repeated" count.
  ~XapHelpers() override;
  XapHelpers(const XapHelpers&) = delete;
  XapHelpers& operator=(const XapHelpers&) = delete;

  // The error log rolls over to Data/xapqbtSpykee.1.txt (one old file kept) at this size.
  static constexpr std::int64_t kMaxErrorLogBytes = 1024 * 1024;
  // A line or event equal to the last one within this time is counted instead of repeated.
  static constexpr double kRepeatSeconds = 1.0;

  // Fixes the application folder (also in settings) and the program file path, creates the
  // Config and Data folders and reads the xAP interface settings from "qbtXap.ini". Returns
  // false (after logging) when a step failed; the remaining steps are then skipped.
  bool InitXap(const LaunchLocation& launch, settings::hs& settings);

  // The computer's name, asked from the system once.
  const std::string& ComputerName();

  // This instance's name on the bus and its xAP source ("qbt.Spykee." and the name); fixed by
  // InitXap. Two instances on one computer differ by their Instance settings (each in its own
  // application folder).
  const std::string& InstanceName() const { return m_instanceName; }
  std::string XapSource() const { return std::string(kXapSourcePrefix) + m_instanceName; }

  const std::string& AppFolder() const { return m_appFolder; }
  const std::string& ProgramFile() const { return m_programFile; }
  const std::string& InterfaceAddress() const { return m_interfaceAddress; }
  const std::string& BroadcastAddress() const { return m_broadcastAddress; }
  // The program's UID (ChooseProgramUid); fixed by InitXap.
  const std::string& DefaultUID() const { return m_uid; }

  // Appends one line to Data/xapqbtSpykee.txt; a line that cannot be written is lost (and
  // reported on stderr). Lines are escaped and cut to settings::kMaxLogLineBytes; the same line
  // again within kRepeatSeconds is counted and the count written before the next line.
  void LogError(const std::string& first, const std::string& second,
                const std::string& description = {}) override;

  // Publishes one "Homeseer.Event" (section "Event.Log": Time, Type, Data) through
  // SendXapMessage; a non-empty description is the pending error, added to Data. Data is escaped
  // and cut to settings::kMaxEventDataBytes; the same event again within kRepeatSeconds is
  // counted and the count sent as an event of its own before the next one.
  void LogEvent(const std::string& type, const std::string& data,
                const std::string& description = {}) override;

  // The bus side. Start-up hands over the transport once it exists and sets XapReady once
  // InitSockets has returned a port; until then messages wait in PendingMessages.
  void setSender(XapSender* sender) { m_sender = sender; }
  bool XapReady() const { return m_xapReady; }
  void setXapReady(bool ready) { m_xapReady = ready; }

  // Sends now when ready (held messages first, oldest first), else holds the message. An empty
  // sUID means DefaultUID.
  void SendXapMessage(const std::string& sTarget, const std::string& sClass,
                      const std::string& sSection, const std::string& sData,
                      const std::string& sSubaddress = {}, const std::string& sUID = {});
  const std::deque<xapQueuedMessage>& PendingMessages() const { return m_pendingMessages; }

  // SendXapMessage behind the XapSender interface, for code that takes a sender; its result is
  // always empty text because a held message has not failed.
  XapSender& HeldSender() { return m_heldSender; }

  // Creates every missing folder of an absolute path except its last element; a relative path
  // does nothing. A failure is reported as event " CreateFolders <folder>" and stops.
  bool CreateFolders(const std::string& path) override;

 private:
  platform::Clock& m_clock;
  platform::HostInfo& m_host;

  std::optional<std::string> m_computerName;
  std::string m_instanceName = "Unknown";
  std::string m_uid = std::string(kDefaultUid);
  std::string m_appFolder;
  std::string m_programFile;
  std::string m_interfaceAddress;
  std::string m_broadcastAddress;

  // The last line written to the error log or sent as an event, when, and how often it came
  // again since without being repeated.
  struct Repeats {
    std::string last;
    double time = 0.0;
    int count = 0;
    // True when text is the last one again within kRepeatSeconds of now (then counted).
    bool counted(const std::string& text, double now);
  };
  void appendToErrorLog(const std::string& line);
  std::string timeStamp() const;
  Repeats m_logRepeats;
  Repeats m_eventRepeats;

  class Held : public XapSender {
   public:
    explicit Held(XapHelpers& helpers) : m_helpers(helpers) {}
    std::string SendXap(const std::string& sTarget, const std::string& sClass,
                        const std::string& sSection, const std::string& sData,
                        const std::string& sSubaddress, const std::string& sUID) override {
      m_helpers.SendXapMessage(sTarget, sClass, sSection, sData, sSubaddress, sUID);
      return {};
    }

   private:
    XapHelpers& m_helpers;
  };

  XapSender* m_sender = nullptr;
  bool m_xapReady = false;
  std::deque<xapQueuedMessage> m_pendingMessages;
  Held m_heldSender{*this};
};

}  // namespace rovalink::xap
