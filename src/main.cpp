#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/gateway.h"
#include "platform/diag.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_signal_watcher.h"
#include "settings/hs.h"

#ifdef ROVALINK_HAVE_GUI
#include <dlfcn.h>

#include "ui/desktop_module.h"
#endif

namespace {

struct Options {
  bool headless = false;
  std::string appDir;
};

// SIGINT, SIGTERM and SIGHUP act as the tray menu's "Exit", also while start-up still waits
// for the robot.
void onTerminationSignal(rovalink::app::Gateway& gateway, int signal) {
  if (gateway.canExit()) {
    gateway.mainWindow().MenuArrayClick(rovalink::app::kMenuExit);
    return;
  }
  // Too early to shut down in order: nothing is running yet.
  std::fflush(nullptr);
  std::_Exit(128 + signal);
}

// The file that really runs, links resolved: the kernel's own record where there is one.
std::string realExecutablePath() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && path.is_absolute()) return path.string();
  return QCoreApplication::applicationFilePath().toStdString();
}

rovalink::xap::LaunchLocation launchLocation(const Options& options) {
  const char* home = std::getenv("ROVALINK_HOME");
  return {options.appDir, home != nullptr ? home : "", realExecutablePath()};
}

int runHeadless(int argc, char** argv, const Options& options) {
  QCoreApplication app(argc, argv);
  rovalink::platform::QtPlatform platform;
  rovalink::app::Gateway gateway(platform, nullptr, launchLocation(options),
                                 [&platform](int code) { platform.loop().quit(code); });

  rovalink::platform::QtSignalWatcher signalWatcher(
      [&gateway](int signal) { onTerminationSignal(gateway, signal); });

  if (const auto exitCode = gateway.Start()) return *exitCode;
  return platform.loop().run();
}

#ifdef ROVALINK_HAVE_GUI
// The desktop module: beside the executable in a build, in lib/rovalink below the prefix when
// installed.
int runDesktop(int argc, char** argv, const Options& options) {
  const std::filesystem::path exeFolder = std::filesystem::path(realExecutablePath()).parent_path();
  std::string errors;
  void* module = nullptr;
  for (const auto& path :
       {exeFolder / rovalink::ui::kDesktopModuleFile,
        exeFolder.parent_path() / "lib" / "rovalink" / rovalink::ui::kDesktopModuleFile}) {
    module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) break;
    errors += std::string("\n  ") + ::dlerror();
  }
  const auto entry = module == nullptr ? nullptr
                                       : reinterpret_cast<rovalink::ui::DesktopEntry>(
                                             ::dlsym(module, rovalink::ui::kDesktopEntry));
  if (entry == nullptr) {
    std::cerr << "rovalink: the desktop cannot be loaded (run with --headless without it):"
              << errors << '\n';
    return 1;
  }
  const rovalink::ui::DesktopStart start{
      [&options] { return launchLocation(options); },
      [](rovalink::app::Gateway& gateway, int signal) { onTerminationSignal(gateway, signal); }};
  return entry(argc, argv, &start);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const rovalink::app::CommandLine line = rovalink::app::ParseCommandLine(arguments);
  std::cout << line.out << std::flush;
  std::cerr << line.err << std::flush;
  if (line.exitCode) return *line.exitCode;
  rovalink::diag::setLevel(line.level);
  Options options{line.headless, line.appDir};
#ifdef ROVALINK_HAVE_GUI
  if (!options.headless &&
      !rovalink::app::DisplayAvailable([](const char* name) { return std::getenv(name); })) {
    // Qt would abort the process when it creates the windows.
    std::cerr << "rovalink: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset or "
                 "unusable); running headless\n";
    options.headless = true;
  }
  if (!options.headless) return runDesktop(argc, argv, options);
#else
  if (!options.headless) std::cerr << "rovalink: built without the desktop; running headless\n";
#endif
  return runHeadless(argc, argv, options);
}
