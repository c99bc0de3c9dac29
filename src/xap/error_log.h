#pragma once

#include <string>

namespace rovalink::xap {

// The program's error-log file, as the xAP code and everything else reports into it.
// XapHelpers implements it; tests use a recording fake.
class ErrorLog {
 public:
  virtual ~ErrorLog() = default;

  // Appends one line: time stamp, first text (program word or failing operation), second text
  // (fixed context), line number 0 and the error's description (empty when there is none).
  virtual void LogError(const std::string& first, const std::string& second,
                        const std::string& description = {}) = 0;
};

}  // namespace rovalink::xap
