#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "settings/services.h"

namespace rovalink::testing {

// Records what the settings store logs; creates folders for real so files can be made.
class RecordingServices : public settings::Services {
 public:
  struct Entry {
    std::string first, second, description;
  };

  void LogError(const std::string& first, const std::string& second,
                const std::string& description) override {
    errors.push_back({first, second, description});
  }
  void LogEvent(const std::string& type, const std::string& data,
                const std::string& description) override {
    events.push_back({type, data, description});
  }
  bool CreateFolders(const std::string& path) override {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    return !ec;
  }

  std::vector<Entry> errors, events;
};

}  // namespace rovalink::testing
