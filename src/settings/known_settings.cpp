#include "settings/known_settings.h"

#include <algorithm>
#include <filesystem>
#include <span>
#include <string_view>

#include "settings/ascii_case.h"
#include "settings/log_text.h"

namespace rovalink::settings {
namespace {

// The keys the program reads, by file and section: one table, so a new setting is listed here
// where it is read. The page files (settings.ini, includes.ini, WeatherData.ini) belong to
// HomeSeer and its plug-ins, which keep many more keys there than the pages read: not listed.
struct KnownSection {
  std::string_view file;
  std::string_view section;
  std::span<const std::string_view> keys;
};

constexpr std::string_view kSpykee[] = {
    "username",   "password",         "ServerPort", "ServerAddress", "Sort",     "SortDir",
    "PathFolder", "DiscoveryAddress", "RobotPort",  "RobotAddress",  "Reconnect"};
constexpr std::string_view kPageSettings[] = {
    "hsip",           "hsport",      "dbpath",         "dbname",         "dbusername",
    "dbpassword",     "dbserverip",  "dbtype",         "usesecurity",    "rowstyle",
    "audreyrowstyle", "linkfileext", "footerlinkrule", "useslideinmenu", "touchscreenips",
    "usesound",       "exthsip",     "showhsversion",  "showhssystime"};
constexpr std::string_view kMqtt[] = {"Host",     "Port",      "Username",        "Password",
                                      "ClientId", "BaseTopic", "DiscoveryPrefix", "CameraFps",
                                      "CaFile",   "Insecure"};
constexpr std::string_view kInterface[] = {"InterfaceAddress", "BroadcastAddress", "Instance",
                                           "BusPort", "UID"};

constexpr std::string_view kWeb[] = {"User", "Password", "Hosts"};

constexpr KnownSection kKnownSections[] = {
    {"qbtRovalink.ini", "SPYKEE", kSpykee},  {"qbtRovalink.ini", "Settings", kPageSettings},
    {"qbtRovalink.ini", "MQTT", kMqtt},      {"qbtRovalink.ini", "Web", kWeb},
    {"qbtXap.ini", "Interface", kInterface},
};

}  // namespace

std::vector<std::string> UnknownSettings(const IniTool& store) {
  const std::string path = store.filePath();
  const std::string file = std::filesystem::path(path).filename().string();
  std::vector<std::string> report;
  int unknown = 0;
  for (const auto& value : store.ValueLines()) {
    const auto section =
        std::find_if(std::begin(kKnownSections), std::end(kKnownSections), [&](const auto& known) {
          return known.file == file && equalsNoCase(known.section, value.section);
        });
    std::string problem;
    if (value.section.empty()) {
      problem = "is outside any section";
    } else if (section != std::end(kKnownSections) &&
               std::none_of(section->keys.begin(), section->keys.end(),
                            [&](std::string_view key) { return equalsNoCase(key, value.key); })) {
      problem = "is no setting of [" + std::string(section->section) + "]";
    } else {
      continue;
    }
    if (++unknown <= kMaxReportedBadLines) {
      report.push_back(QuotedLine(path) + " line " + std::to_string(value.lineNumber) + ": \"" +
                       QuotedLine(value.key) + "\" " + problem + "; it is ignored");
    }
  }
  if (unknown > kMaxReportedBadLines) {
    report.push_back(QuotedLine(path) + ": " + std::to_string(unknown - kMaxReportedBadLines) +
                     " more keys are ignored");
  }
  return report;
}

}  // namespace rovalink::settings
