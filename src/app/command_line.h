#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/diag.h"

namespace rovalink::app {

// What the command line asks for.
struct CommandLine {
  bool headless = false;
  std::string appDir;
  diag::Level level = diag::Level::Status;
  // Set when the program is done after printing out and err (--help, --version, a mistake).
  std::optional<int> exitCode;
  std::string out;
  std::string err;
};

// arguments without the program name.
CommandLine ParseCommandLine(const std::vector<std::string_view>& arguments);

// Whether a desktop could open its display: the platform QT_QPA_PLATFORM names, else an X11 or
// Wayland display. Without one, Qt aborts the process when the windows are created.
bool DisplayAvailable(const std::function<const char*(const char*)>& getEnvironment);

}  // namespace rovalink::app
