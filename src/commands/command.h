#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace rovalink::commands {

// The procedures that set the wheels turning (the keyboard drive's and a path's moves too);
// "MoveStop" ends them.
inline constexpr std::array<std::string_view, 8> kMotionProcedures{
    "MoveForward",      "MoveBackward",      "MoveRight",       "MoveLeft",
    "MoveForwardRight", "MoveBackwardRight", "MoveForwardLeft", "MoveBackwardLeft"};
inline constexpr std::string_view kMoveStop = "MoveStop";

inline bool IsMotion(std::string_view procedure) {
  return std::find(kMotionProcedures.begin(), kMotionProcedures.end(), procedure) !=
         kMotionProcedures.end();
}

// One queued robot command. A plain record: every producer fills it, the dispatcher reads it.
struct Command {
  // Name of the action, matched exactly (case-sensitive) against the dispatcher's table.
  std::string Procedure;
  // Argument of the action ("Volume", "Speed" and the "File" family use it).
  std::string Parameter;
  // Seconds on a time axis shared with the commands around it: a time of day for keyboard and
  // xAP commands, accumulated file time for a path run, 0 for "start at once".
  double TimeStamp = 0.0;
  // Queued by a running path file (a stop from outside the path removes it).
  bool fromPath = false;
};

}  // namespace rovalink::commands
