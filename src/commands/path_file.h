#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "commands/command.h"

namespace rovalink::commands {

// Path files: one command per line, "procedure TAB duration TAB parameter", lines ending in
// CR LF, 8-bit text, durations in seconds with "." as decimal separator.

// One line of a path file as read: its three fields, or the reason it cannot be used.
struct PathFileLine {
  std::string text;  // the line without its end (CR LF, LF)
  bool usable = false;
  std::string procedure;
  std::string duration;
  std::string parameter;
};

// Splits text into lines and each line into its fields. A line with two fields gets an empty
// parameter; any other count (an empty line has none) is not usable.
std::vector<PathFileLine> ReadPathFileLines(std::string_view text);

// A path run queues at most this many commands; the lines after them are refused.
inline constexpr std::size_t kMaxPathCommands = 100000;
// Unusable lines kept for their own event; the rest are only counted.
inline constexpr std::size_t kMaxUnusableLinesKept = 10;

// The commands a path run queues, with time stamps accumulated from the durations.
struct PathRunPlan {
  std::vector<Command> commands;
  std::vector<std::string> unusableLines;  // the first kMaxUnusableLinesKept, each logged
  std::size_t unusableCount = 0;           // all of them
  std::size_t refusedCommands = 0;         // usable lines beyond kMaxPathCommands
  // Lines skipped for their duration: {reason, line}, each gets a logged event.
  std::vector<std::pair<std::string, std::string>> refusedLines;  // the first kMaxUnusableLinesKept
  std::size_t refusedLinesNotKept = 0;
  std::int32_t maxSyncGap = 0;  // raised so every gap of the file is reproduced
};

// maxSyncGap is the current limit (ms); it only grows, to duration x 1500 for the longest
// duration. A duration that is not numeric text gives time stamp 0 and adds no time. A line
// whose duration is negative, not finite or above 24 hours is refused.
PathRunPlan PlanPathRun(std::string_view text, std::int32_t maxSyncGap);

// One line of a path or proof file: the fields joined by tabs, then CR LF
// ({"MoveForward", "1.25", ""} gives "MoveForward\t1.25\t\r\n"). Tabs and line ends inside a
// field become blanks.
std::string FormatFileLine(std::initializer_list<std::string_view> fields);

// The proof file name: "_Proof" before the last "." of path; "" when path has no "." (the
// caller then uses its fallback location).
std::string ProofFileName(std::string_view path);

}  // namespace rovalink::commands
