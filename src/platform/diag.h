#pragma once

#include <string_view>

// One-line messages on stderr (the journal when run as a service). Status lines tell a person
// what the program is doing (settings in use, ports, the robot's state) and are on by default;
// the other levels are what a maintainer needs when something goes wrong. User-facing errors and
// events also go through LogError/LogEvent.
namespace rovalink::diag {

enum class Level { Debug = 0, Info = 1, Status = 2, Warning = 3, Error = 4, Off = 5 };

// Messages below the level are dropped. Default: Status; `--quiet` sets Warning, `--verbose`
// sets Debug.
void setLevel(Level level);
Level level();

void write(Level level, std::string_view text);
inline void debug(std::string_view text) {
  write(Level::Debug, text);
}
inline void info(std::string_view text) {
  write(Level::Info, text);
}
// Printed as it stands, without a level tag: it is meant for the person running the program.
inline void status(std::string_view text) {
  write(Level::Status, text);
}
inline void warning(std::string_view text) {
  write(Level::Warning, text);
}
inline void error(std::string_view text) {
  write(Level::Error, text);
}

}  // namespace rovalink::diag
