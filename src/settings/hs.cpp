#include "settings/hs.h"

#include <filesystem>
#include <system_error>

#include "platform/diag.h"
#include "settings/ini_tool.h"
#include "settings/known_settings.h"

namespace rovalink::settings {
namespace fs = std::filesystem;

namespace {
constexpr std::string_view kDefaultFile = "settings.ini";
}

hs::hs(Services& services) : m_services(services) {}

void hs::setAppPath(std::string folder) {
  while (folder.size() > 1 && folder.back() == fs::path::preferred_separator) folder.pop_back();
  m_appPath = std::move(folder);
}

std::string hs::settingsFilePath(std::string_view fileName) const {
  return (fs::path(m_appPath) / "Config" / fileName).string();
}

std::string hs::GetINISetting(std::string_view Group, std::string_view Key,
                              std::string_view Default, std::string_view File) const {
  // Without an application folder the path would land at the file-system root.
  if (m_appPath.empty()) return std::string(Default);
  const std::string path = settingsFilePath(File.empty() ? kDefaultFile : File);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::string(Default);

  IniTool store(m_services);
  if (!store.Load(path)) return std::string(Default);
  // A misspelt key would otherwise just read as its default, without a word.
  if (m_checkedFiles.insert(path).second) {
    for (const std::string& line : UnknownSettings(store)) diag::warning(line);
  }
  return store.Read(Group, Key, Default);
}

bool hs::SaveIniSetting(std::string_view Group, std::string_view Key, std::string_view Value,
                        std::string_view File) {
  if (m_appPath.empty() || File.empty()) {
    m_services.LogError(kProgramWord, "IniTool Save " + std::string(File),
                        m_appPath.empty() ? "no application folder" : "no settings file named");
    return false;
  }
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
