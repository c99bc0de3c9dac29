#pragma once

#include <functional>

#include "xap/xap_helpers.h"

namespace rovalink::app {
class Gateway;
}

namespace rovalink::ui {

// The desktop lives in a module of its own that rovalink loads only when it runs with windows,
// so a headless start loads none of the Widgets libraries. What the executable hands it:
struct DesktopStart {
  // Where the program was started from; asked once the application object exists.
  std::function<xap::LaunchLocation()> launchLocation;
  // SIGINT, SIGTERM and SIGHUP.
  std::function<void(app::Gateway&, int)> onTerminationSignal;
};

inline constexpr const char* kDesktopModuleFile = "librovalink_desktop.so";
inline constexpr const char* kDesktopEntry = "rovalink_run_desktop";
using DesktopEntry = int (*)(int argc, char** argv, const DesktopStart* start);

}  // namespace rovalink::ui
