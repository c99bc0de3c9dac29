// Path files come from disk and may be anything: the reader must neither crash nor disagree
// with the writer about what it reads back.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "commands/number_text.h"
#include "commands/path_file.h"

using namespace rovalink::commands;

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto lines = ReadPathFileLines(text);
  std::size_t usable = 0;
  for (const PathFileLine& line : lines) {
    check(line.text.find('\n') == std::string::npos);
    if (!line.usable) continue;
    ++usable;
    check(line.procedure.find('\t') == std::string::npos);
    check(line.duration.find('\t') == std::string::npos);
    check(line.parameter.find('\t') == std::string::npos);

    // What the writer makes of the fields reads back as the same fields.
    const std::string written = FormatFileLine({line.procedure, line.duration, line.parameter});
    const auto again = ReadPathFileLines(written);
    check(again.size() == 1 && again[0].usable);
    if (line.procedure.find('\r') == std::string::npos &&
        line.duration.find('\r') == std::string::npos &&
        line.parameter.find('\r') == std::string::npos) {
      check(again[0].procedure == line.procedure);
      check(again[0].duration == line.duration);
      check(again[0].parameter == line.parameter);
    }

    // A written duration reads back as the number it was rounded to.
    const double seconds = ReadLeadingNumber(line.duration);
    if (std::isfinite(seconds) && std::fabs(seconds) < 1e9) {
      const std::string formatted = FormatSeconds3(seconds);
      check(IsNumericText(formatted));
      check(std::fabs(ReadLeadingNumber(formatted) - seconds) <=
            0.0005 + 1e-9 * std::fabs(seconds));
    }
  }

  const PathRunPlan plan = PlanPathRun(text, 5000);
  // Every usable line is queued, refused past the command limit, or refused for its duration.
  check(plan.commands.size() + plan.refusedCommands + plan.refusedLines.size() +
            plan.refusedLinesNotKept ==
        usable);
  check(plan.refusedLines.size() <= kMaxUnusableLinesKept);
  check(plan.commands.size() <= kMaxPathCommands);
  check(plan.unusableCount == lines.size() - usable);
  check(plan.unusableLines.size() == std::min(plan.unusableCount, kMaxUnusableLinesKept));
  check(plan.maxSyncGap >= 5000);
  for (const Command& command : plan.commands) check(!std::isnan(command.TimeStamp));
  return 0;
}
