#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "settings/ini_tool.h"

namespace rovalink::web {

// One settings file read once for a page request. Unlike the settings object it never creates a
// missing file: a page request must not leave files behind.
class IniSnapshot {
 public:
  IniSnapshot(settings::Services& services, const std::string& path) : m_store(services) {
    std::error_code ec;
    m_present = std::filesystem::is_regular_file(path, ec) && m_store.Load(path);
  }

  std::string Read(std::string_view section, std::string_view key,
                   std::string_view defaultValue = {}) const {
    return m_present ? m_store.Read(section, key, defaultValue) : std::string(defaultValue);
  }
  bool present() const { return m_present; }

 private:
  settings::IniTool m_store;
  bool m_present = false;
};

}  // namespace rovalink::web
