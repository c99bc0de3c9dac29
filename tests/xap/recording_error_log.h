#pragma once

#include <string>
#include <vector>

#include "xap/error_log.h"

namespace rovalink::xap::testing {

class RecordingErrorLog : public ErrorLog {
 public:
  struct Entry {
    std::string first, second, description;
  };

  void LogError(const std::string& first, const std::string& second,
                const std::string& description) override {
    entries.push_back({first, second, description});
  }

  std::vector<Entry> entries;
};

}  // namespace rovalink::xap::testing
