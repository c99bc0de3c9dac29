#pragma once

#include <string_view>

// Developer diagnostics on stderr: what a maintainer needs when something goes wrong.
// User-facing errors and events go through LogError/LogEvent instead.
namespace rovalink::diag {

enum class Level { Debug = 0, Info = 1, Warning = 2, Error = 3, Off = 4 };

// Messages below the level are dropped. Default: Warning, or ROVALINK_DIAG=debug|info|warning|
// error|off from the environment.
void setLevel(Level level);
Level level();

void write(Level level, std::string_view text);
inline void debug(std::string_view text) {
  write(Level::Debug, text);
}
inline void info(std::string_view text) {
  write(Level::Info, text);
}
inline void warning(std::string_view text) {
  write(Level::Warning, text);
}
inline void error(std::string_view text) {
  write(Level::Error, text);
}

}  // namespace rovalink::diag
