#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "settings/hs.h"
#include "settings/ini_tool.h"

namespace rovalink::web {

// One settings file as a page request reads it: the settings object's parsed copy, which stays
// valid while the request runs. Unlike GetINISetting it never creates a missing file: a page
// request must not leave files behind.
class IniSnapshot {
 public:
  IniSnapshot(const settings::hs& settings, const std::string& path)
      : m_store(settings.ParsedFile(path)) {}

  std::string Read(std::string_view section, std::string_view key,
                   std::string_view defaultValue = {}) const {
    return m_store ? m_store->Read(section, key, defaultValue) : std::string(defaultValue);
  }
  bool present() const { return m_store != nullptr; }

 private:
  std::shared_ptr<const settings::IniTool> m_store;
};

}  // namespace rovalink::web
