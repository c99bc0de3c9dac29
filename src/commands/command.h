#pragma once

#include <string>

namespace rovalink::commands {

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
