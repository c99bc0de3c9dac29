#include "app/command_line.h"

#include "settings/hs.h"

namespace rovalink::app {
namespace {

constexpr std::string_view kUsage =
    "Usage: rovalink [OPTION]...\n"
    "Gateway between a Spykee Wi-Fi robot and an xAP home-automation bus.\n"
    "\n"
    "  --headless       no windows: message boxes go to stderr and the error log\n"
    "  --app-dir=DIR    application folder (Config/, Data/); default: $ROVALINK_HOME,\n"
    "                   else the executable's folder\n"
    "  --quiet          no status lines on stderr, only warnings and errors\n"
    "  --verbose        status lines and every diagnostic on stderr\n"
    "  --version        print the version and exit\n"
    "  --help           print this help and exit\n"
    "\n"
    "Status lines (settings in use, ports, web page, robot) go to stderr, one per change.\n"
    "SIGINT, SIGTERM and SIGHUP shut down as the tray menu's Exit does.\n";

bool nonEmpty(const char* value) {
  return value != nullptr && *value != '\0';
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string_view>& arguments) {
  CommandLine line;
  const auto fail = [&line](const std::string& message) {
    line.err = "rovalink: " + message + "\n" + std::string(kUsage);
    line.exitCode = 2;
    return line;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view arg = arguments[i];
    if (arg == "--help" || arg == "-h") {
      line.out = std::string(kUsage);
      line.exitCode = 0;
      return line;
    }
    if (arg == "--version") {
      line.out = "rovalink " + settings::hs::VersionText() + "\n";
      line.exitCode = 0;
      return line;
    }
    if (arg == "--headless") {
      line.headless = true;
    } else if (arg == "--quiet") {
      line.level = diag::Level::Warning;
    } else if (arg == "--verbose") {
      line.level = diag::Level::Debug;
    } else if (arg == "--app-dir" || arg.starts_with("--app-dir=")) {
      std::string_view value;
      if (arg.size() > 9) {
        value = arg.substr(10);
      } else if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("--")) {
        value = arguments[++i];
      }
      if (value.empty()) return fail("--app-dir needs a folder: --app-dir=DIR");
      line.appDir = std::string(value);
    } else {
      return fail("unknown option '" + std::string(arg) + "'");
    }
  }
  return line;
}

bool DisplayAvailable(const std::function<const char*(const char*)>& getEnvironment) {
  const char* platform = getEnvironment("QT_QPA_PLATFORM");
  std::string_view name = nonEmpty(platform) ? platform : "";
  name = name.substr(0, name.find(':'));  // "xcb:display=..." and the like
  const bool x11 = nonEmpty(getEnvironment("DISPLAY"));
  const bool wayland = nonEmpty(getEnvironment("WAYLAND_DISPLAY"));
  if (name.empty()) return x11 || wayland;
  if (name == "xcb") return x11;
  if (name.starts_with("wayland")) return wayland;
  // offscreen, minimal, vnc, linuxfb, eglfs: no display server needed.
  return true;
}

}  // namespace rovalink::app
