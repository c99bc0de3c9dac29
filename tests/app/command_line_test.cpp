#include "app/command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "settings/hs.h"

namespace rovalink::app {
namespace {

TEST(CommandLine, EachFormIsTakenOrRefusedWithAReason) {
  struct Case {
    std::vector<std::string_view> arguments;
    int exitCode;  // -1: the program runs
    std::string appDir;
    diag::Level level;
    const char* printed;  // part of what goes to stdout (exit 0) or stderr (exit 2)
  };
  const std::string version = "rovalink " + settings::hs::VersionText() + "\n";
  const Case cases[] = {
      {{"--app-dir=/srv/rovalink", "--headless"}, -1, "/srv/rovalink", diag::Level::Status, ""},
      {{"--app-dir", "/srv/r", "--quiet"}, -1, "/srv/r", diag::Level::Warning, ""},
      {{"--verbose"}, -1, "", diag::Level::Debug, ""},
      {{"--app-dir"}, 2, "", diag::Level::Status, "rovalink: --app-dir needs a folder"},
      {{"--app-dir="}, 2, "", diag::Level::Status, "rovalink: --app-dir needs a folder"},
      {{"--app-dir", "--headless"}, 2, "", diag::Level::Status, "--app-dir needs a folder"},
      {{"--frobnicate"}, 2, "", diag::Level::Status, "unknown option '--frobnicate'"},
      {{"--version"}, 0, "", diag::Level::Status, version.c_str()},
      // Options and their explanations line up in two columns.
      {{"--help"},
       0,
       "",
       diag::Level::Status,
       "  --headless       no windows: message boxes go to stderr and the error log\n"
       "  --app-dir=DIR    application folder (Config/, Data/); default: $ROVALINK_HOME,\n"
       "                   else the executable's folder\n"
       "  --quiet          no status lines on stderr, only warnings and errors\n"
       "  --verbose        status lines and every diagnostic on stderr\n"
       "  --version        print the version and exit\n"
       "  --help           print this help and exit\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "" : std::string(c.arguments.front()));
    const CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.exitCode.value_or(-1), c.exitCode);
    EXPECT_EQ(line.appDir, c.appDir);
    EXPECT_EQ(line.level, c.level);
    const std::string& printed = c.exitCode == 2 ? line.err : line.out;
    EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
    if (c.exitCode == 0) {
      EXPECT_EQ(line.err, "");
    }
  }
}

TEST(CommandLine, ADesktopNeedsADisplayItsPlatformCanOpen) {
  struct Case {
    std::map<std::string, std::string> environment;
    bool usable;
  };
  const Case cases[] = {
      {{}, false},
      {{{"DISPLAY", ""}}, false},
      {{{"DISPLAY", ":0"}}, true},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, true},
      {{{"QT_QPA_PLATFORM", "offscreen"}}, true},
      {{{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}}, false},
      {{{"QT_QPA_PLATFORM", "xcb:display=:1"}, {"DISPLAY", ":1"}}, true},
      {{{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}}, false},
  };
  for (const Case& c : cases) {
    const bool usable = DisplayAvailable([&](const char* name) -> const char* {
      const auto it = c.environment.find(name);
      return it == c.environment.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(usable, c.usable) << c.environment.size() << " variables, first "
                                << (c.environment.empty() ? "" : c.environment.begin()->second);
  }
}

}  // namespace
}  // namespace rovalink::app
