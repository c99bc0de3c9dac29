#include "xap/xap_helpers.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/diag.h"
#include "platform/file_handle.h"
#include "settings/log_text.h"
#include "xap/ascii_case.h"
#include "xap/packed_items.h"

namespace rovalink::xap {
namespace fs = std::filesystem;

namespace {

constexpr char kSeparator = fs::path::preferred_separator;

std::string withoutTrailingSeparators(std::string folder) {
  while (folder.size() > 1 && folder.back() == kSeparator) folder.pop_back();
  return folder;
}

std::string folderOf(std::string_view filePath) {
  const auto slash = filePath.rfind(kSeparator);
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return std::string(1, kSeparator);
  return withoutTrailingSeparators(std::string(filePath.substr(0, slash)));
}

std::string join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != kSeparator) path += kSeparator;
  path += name;
  return path;
}

}  // namespace

std::string ApplicationFolder(std::string_view appDirOption, std::string_view homeVariable,
                              std::string_view executablePath) {
  if (!appDirOption.empty()) return withoutTrailingSeparators(std::string(appDirOption));
  if (!homeVariable.empty()) return withoutTrailingSeparators(std::string(homeVariable));
  return folderOf(executablePath);
}

std::string ChooseProgramUid(std::string_view uidSetting, std::string_view instanceSetting) {
  const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  std::string uid = toUpperAscii(uidSetting);
  if (uid.size() == 7) uid += ":00";
  if (uid.size() == 10 && uid.compare(0, 3, "FF.") == 0 &&
      std::all_of(uid.begin() + 3, uid.begin() + 7, hex) && uid.compare(7, 3, ":00") == 0) {
    return uid;
  }
  // Only a name the user gave picks a new UID: the default instance keeps the one that
  // existing controller setups know.
  if (ChooseInstanceName(instanceSetting, "") != instanceSetting) return std::string(kDefaultUid);
  std::uint32_t hash = 2166136261u;
  for (const char c : instanceSetting) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  std::uint32_t device = (hash >> 16) ^ (hash & 0xFFFFu);
  if (device == 0x0065u) device = 0x0066u;
  char text[16];
  std::snprintf(text, sizeof text, "FF.%04X:00", static_cast<unsigned>(device));
  return text;
}

AppLayout::AppLayout(const std::string& folder)
    : appFolder(withoutTrailingSeparators(folder)),
      configFolder(join(appFolder, "Config")),
      dataFolder(join(appFolder, "Data")),
      programDataFolder(join(dataFolder, kProgramWord)),
      htmlFolder(join(appFolder, "html")),
      errorLogFile(join(dataFolder, std::string(kProgramWord) + ".txt")) {}

std::string FormatErrorLogLine(const platform::LocalDateTime& now, std::string_view first,
                               std::string_view second, std::string_view description) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d | ", now.year, now.month,
                now.day, now.hour, now.minute, now.second);
  std::string text;
  text.append(first).append(" ").append(second).append(" 0 ").append(description);
  std::string line(stamp);
  // The line end ("\r\n") counts towards the limit too.
  line.append(settings::LogText(text, settings::kMaxLogLineBytes - 2 - line.size()));
  return line;
}

XapHelpers::XapHelpers(platform::Clock& clock, platform::HostInfo& host)
    : m_clock(clock), m_host(host) {}

const std::string& XapHelpers::ComputerName() {
  if (!m_computerName) m_computerName = m_host.computerName();
  return *m_computerName;
}

bool XapHelpers::InitXap(const LaunchLocation& launch, settings::hs& settings) {
  try {
    ComputerName();

    std::string folder =
        ApplicationFolder(launch.appDirOption, launch.homeVariable, launch.executablePath);
    // Folder creation only works on absolute paths, so a relative --app-dir is anchored here.
    if (!folder.empty()) folder = fs::absolute(folder).lexically_normal().string();
    m_appFolder = withoutTrailingSeparators(folder);
    settings.setAppPath(m_appFolder);
    // The file that really runs: the application folder may be elsewhere (--app-dir).
    m_programFile = launch.executablePath;

    const AppLayout layout(m_appFolder);
    // The trailing "x" stands for a file name: the folders before it are made, not "x".
    CreateFolders(join(layout.configFolder, "x"));
    CreateFolders(join(layout.dataFolder, "x"));

    m_interfaceAddress =
        settings.GetINISetting("Interface", "InterfaceAddress", "Default", "qbtXap.ini");
    m_broadcastAddress =
        settings.GetINISetting("Interface", "BroadcastAddress", "Default", "qbtXap.ini");
    const std::string instance = settings.GetINISetting("Interface", "Instance", "", "qbtXap.ini");
    m_instanceName = ChooseInstanceName(instance, ComputerName());
    m_uid =
        ChooseProgramUid(settings.GetINISetting("Interface", "UID", "", "qbtXap.ini"), instance);
    if (!instance.empty() && instance != m_instanceName) {
      LogEvent(std::string(kProgramWord), "qbtXap.ini Instance \"" + instance +
                                              "\" is not a usable name; using " + m_instanceName);
    }
    return true;
  } catch (const std::exception& error) {
    LogError(std::string(kProgramWord), "InitXap", error.what());
    return false;
  }
}

XapHelpers::~XapHelpers() {
  if (m_logRepeats.count > 0) {
    appendToErrorLog(timeStamp() + " | last line repeated " + std::to_string(m_logRepeats.count) +
                     " times");
  }
}

bool XapHelpers::Repeats::counted(const std::string& text, double now) {
  double elapsed = now - time;
  if (elapsed < 0) elapsed += 24 * 3600;  // past midnight
  if (text != last || elapsed >= kRepeatSeconds) return false;
  ++count;
  return true;
}

std::string XapHelpers::timeStamp() const {
  const platform::LocalDateTime now = m_clock.localNow();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return stamp;
}

void XapHelpers::LogError(const std::string& first, const std::string& second,
                          const std::string& description) {
  const std::string line = FormatErrorLogLine(m_clock.localNow(), first, second, description);
  const double now = m_clock.timeOfDay();
  const std::string text = line.substr(line.find(" | ") + 3);
  if (m_logRepeats.counted(text, now)) return;
  if (m_logRepeats.count > 0) {
    appendToErrorLog(line.substr(0, line.find(" | ")) + " | last line repeated " +
                     std::to_string(m_logRepeats.count) + " times");
  }
  m_logRepeats = Repeats{text, now, 0};
  appendToErrorLog(line);
}

void XapHelpers::appendToErrorLog(const std::string& line) {
  if (m_appFolder.empty()) {
    // Before InitXap there is no log file to write to.
    diag::error("error log (no application folder yet): " + line);
    return;
  }
  const AppLayout layout(m_appFolder);
  const std::string& path = layout.errorLogFile;
  const std::string entry = line + "\r\n";
  std::string error;
  platform::FileHandle file = platform::OpenForAppend(path, error);
  const std::int64_t size = file.size();
  if (file.isOpen() && size > 0 &&
      size + static_cast<std::int64_t>(entry.size()) > kMaxErrorLogBytes) {
    // One old file is kept: the rename replaces the previous one (or a link in its place).
    file.close();
    std::error_code ec;
    fs::rename(path, join(layout.dataFolder, std::string(kProgramWord) + ".1.txt"), ec);
    file = platform::OpenForAppend(path, error);
  }
  if (!file.isOpen() || !file.write(entry, &error) || !file.close(&error)) {
    diag::error("cannot append to " + path + " (" + error + "): " + line);
  }
}

void XapHelpers::LogEvent(const std::string& type, const std::string& data,
                          const std::string& description) {
  std::string text = data;
  if (!description.empty()) text.append(" Line 0 ").append(description);
  text = settings::LogText(text, settings::kMaxEventDataBytes);
  const std::string kind = settings::LogText(type, settings::kMaxEventDataBytes);
  const double now = m_clock.timeOfDay();
  std::string key = kind;
  key.append(1, '\0').append(text);
  if (m_eventRepeats.counted(key, now)) return;
  const std::string stamp = timeStamp();
  // Taken before sending: a send pumps events, and an event logged from one of them must see
  // this event as the last one.
  const Repeats previous = std::exchange(m_eventRepeats, Repeats{key, now, 0});
  if (previous.count > 0) {
    SendXapMessage(
        "", "Homeseer.Event", "Event.Log",
        PackItems({{"Time", stamp},
                   {"Type", previous.last.substr(0, previous.last.find('\0'))},
                   {"Data", "last event repeated " + std::to_string(previous.count) + " times"}}));
  }
  diag::info("event " + kind + ": " + text);
  SendXapMessage("", "Homeseer.Event", "Event.Log",
                 PackItems({{"Time", stamp}, {"Type", kind}, {"Data", text}}));
}

void XapHelpers::SendXapMessage(const std::string& sTarget, const std::string& sClass,
                                const std::string& sSection, const std::string& sData,
                                const std::string& sSubaddress, const std::string& sUID) {
  m_pendingMessages.push_back(xapQueuedMessage{sTarget, sUID.empty() ? DefaultUID() : sUID, sClass,
                                               sSection, sData, sSubaddress});
  // One message leaves the queue per send, so a send made from an event pumped inside SendXap
  // goes on with the rest in order instead of sending any of them twice. The sender is asked
  // for again before every send: an Exit pumped inside the previous one takes it away.
  while (!m_pendingMessages.empty() && m_xapReady && m_sender != nullptr) {
    const xapQueuedMessage message = std::move(m_pendingMessages.front());
    m_pendingMessages.pop_front();
    const std::string failure =
        m_sender->SendXap(message.MsgTarget, message.MsgClass, message.MsgSection, message.MsgData,
                          message.MsgSubAddress, message.MsgUID);
    if (!failure.empty()) {
      LogError(std::string(kProgramWord), "SendXap  " + message.MsgData, failure);
    }
  }
}

bool XapHelpers::CreateFolders(const std::string& path) {
  if (path.empty() || path.front() != kSeparator) return true;
  std::string folder;
  std::string_view rest(path);
  rest.remove_prefix(1);
  // Every element but the last names a folder; the last is the file the path is for.
  for (auto slash = rest.find(kSeparator); slash != std::string_view::npos;
       slash = rest.find(kSeparator)) {
    folder.append(1, kSeparator).append(rest.substr(0, slash));
    rest.remove_prefix(slash + 1);
    std::error_code ec;
    if (fs::is_directory(folder, ec)) continue;
    fs::create_directory(folder, ec);
    if (ec) {
      LogEvent(std::string(kProgramWord), " CreateFolders " + folder, ec.message());
      return false;
    }
  }
  return true;
}

}  // namespace rovalink::xap
