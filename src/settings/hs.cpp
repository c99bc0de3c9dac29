#include "settings/hs.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/diag.h"
#include "settings/ini_tool.h"
#include "settings/known_settings.h"

namespace rovalink::settings {
namespace fs = std::filesystem;

namespace {
constexpr std::string_view kDefaultFile = "settings.ini";
// A file changed more recently than this may change again within the same time stamp (file
// systems keep it in steps of a clock tick, FAT in 2 s) without its size changing: it is parsed
// afresh until it has been quiet for that long.
constexpr std::int64_t kSettledNs = 2'000'000'000;

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}
}  // namespace

hs::hs(Services& services) : m_services(services) {}

void hs::setAppPath(std::string folder) {
  while (folder.size() > 1 && folder.back() == fs::path::preferred_separator) folder.pop_back();
  m_appPath = std::move(folder);
}

std::string hs::settingsFilePath(std::string_view fileName) const {
  // Joined as text: this runs for every read, and the folder never ends in a separator
  // (setAppPath) unless it is the root.
  std::string path = m_appPath;
  if (!path.empty() && path.back() != fs::path::preferred_separator) path += '/';
  path += "Config/";
  path += fileName;
  return path;
}

std::string hs::GetINISetting(std::string_view Group, std::string_view Key,
                              std::string_view Default, std::string_view File) const {
  // Without an application folder the path would land at the file-system root.
  if (m_appPath.empty()) return std::string(Default);
  const std::string path = settingsFilePath(File.empty() ? kDefaultFile : File);
  const std::shared_ptr<const IniTool> store = ParsedFile(path);
  if (!store) return std::string(Default);
  // A misspelt key would otherwise just read as its default, without a word.
  if (m_checkedFiles.insert(path).second) {
    for (const std::string& line : UnknownSettings(*store)) diag::warning(line);
  }
  return store->Read(Group, Key, Default);
}

std::shared_ptr<const IniTool> hs::ParsedFile(const std::string& path) const {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    m_parsed.erase(path);
    return nullptr;
  }
  const FileStamp stamp{info.st_dev, info.st_ino, static_cast<std::uint64_t>(info.st_size),
                        nanoseconds(info.st_mtim), nanoseconds(info.st_ctim)};
  const auto found = m_parsed.find(path);
  if (found != m_parsed.end() && found->second.stamp == stamp) return found->second.store;

  auto store = std::make_shared<IniTool>(m_services);
  if (!store->Load(path)) {
    m_parsed.erase(path);
    return nullptr;
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  if (nanoseconds(now) - stamp.modifiedNs >= kSettledNs) {
    m_parsed.insert_or_assign(path, ParsedEntry{stamp, store});
  } else if (found != m_parsed.end()) {
    m_parsed.erase(found);
  }
  return store;
}

bool hs::SaveIniSetting(std::string_view Group, std::string_view Key, std::string_view Value,
                        std::string_view File) {
  if (m_appPath.empty() || File.empty()) {
    m_services.LogError(kProgramWord, "IniTool Save " + std::string(File),
                        m_appPath.empty() ? "no application folder" : "no settings file named");
    return false;
  }
  // Whatever happens next, the parsed copy may no longer match the file.
  m_parsed.erase(settingsFilePath(File));
  IniTool store(m_services);
  // Saving after a failed load would replace every other setting of the file with this one.
  if (!store.Load(settingsFilePath(File))) return false;
  // An unchanged value would still replace the "_bck" copy of the user's own file.
  if (store.Holds(Group, Key, Value)) return true;
  if (!store.WriteKey(Group, Key, Value)) {
    m_services.LogError(kProgramWord, "IniTool Save " + store.filePath(),
                        "a name or value that is not one line of text");
    return false;
  }
  return store.Save();
}

std::string hs::VersionText() {
  return std::to_string(ROVALINK_VERSION_MAJOR) + "." + std::to_string(ROVALINK_VERSION_MINOR) +
         "." + std::to_string(ROVALINK_VERSION_PATCH);
}

}  // namespace rovalink::settings
