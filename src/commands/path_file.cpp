#include "commands/path_file.h"

#include <cmath>

#include "commands/number_text.h"

namespace rovalink::commands {
namespace {

constexpr double kMaxLineSeconds = 24.0 * 60 * 60;

std::vector<std::string> splitAtTabs(std::string_view line) {
  std::vector<std::string> fields;
  if (line.empty()) return fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      fields.emplace_back(line.substr(start));
      return fields;
    }
    fields.emplace_back(line.substr(start, tab - start));
    start = tab + 1;
    // Only the count matters beyond three; stop collecting long garbage lines early.
    if (fields.size() > 3) return fields;
  }
}

}  // namespace

namespace {

// Calls take(line) for each line of text, without its line end (CR LF or LF).
template <typename Take>
void forEachLine(std::string_view text, Take take) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    start = next;
    take(raw);
  }
}

PathFileLine readLine(std::string_view raw) {
  PathFileLine line;
  std::vector<std::string> fields = splitAtTabs(raw);
  if (fields.size() == 2) fields.emplace_back();
  if (fields.size() == 3) {
    line.usable = true;
    line.procedure = std::move(fields[0]);
    line.duration = std::move(fields[1]);
    line.parameter = std::move(fields[2]);
  }
  return line;
}

}  // namespace

std::vector<PathFileLine> ReadPathFileLines(std::string_view text) {
  std::vector<PathFileLine> lines;
  forEachLine(text, [&](std::string_view raw) {
    lines.push_back(readLine(raw));
    lines.back().text = std::string(raw);
  });
  return lines;
}

PathRunPlan PlanPathRun(std::string_view text, std::int32_t maxSyncGap) {
  PathRunPlan plan;
  plan.maxSyncGap = maxSyncGap;
  double accumulated = 0.0;
  // Line by line, keeping only what is queued or reported: a file of millions of junk lines
  // costs no more memory than its text.
  forEachLine(text, [&](std::string_view raw) {
    PathFileLine line = readLine(raw);
    if (!line.usable) {
      if (plan.unusableCount++ < kMaxUnusableLinesKept) plan.unusableLines.emplace_back(raw);
      return;
    }
    if (plan.commands.size() == kMaxPathCommands) {
      ++plan.refusedCommands;
      return;
    }
    Command command{std::move(line.procedure), std::move(line.parameter), 0.0};
    const double seconds = ReadLeadingNumber(line.duration);
    // Such a gap would hold the queue (and every stop behind it) for days, or run backwards.
    const char* refusal = !std::isfinite(seconds)     ? "has a duration that is not a finite number"
                          : seconds < 0.0             ? "has a negative duration"
                          : seconds > kMaxLineSeconds ? "has a duration above 24 hours"
                                                      : nullptr;
    if (refusal != nullptr) {
      if (plan.refusedLines.size() < kMaxUnusableLinesKept) {
        plan.refusedLines.emplace_back(refusal, raw);
      } else {
        ++plan.refusedLinesNotKept;
      }
      return;
    }
    if (seconds * 1500.0 > plan.maxSyncGap) plan.maxSyncGap = ToInt32(seconds * 1500.0);
    if (IsNumericText(line.duration)) {
      command.TimeStamp = accumulated;
      accumulated += seconds;
    }
    plan.commands.push_back(std::move(command));
  });
  return plan;
}

std::string FormatFileLine(std::initializer_list<std::string_view> fields) {
  std::string line;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) line.push_back('\t');
    // A tab or line end inside a field would split the line when it is read back.
    for (char c : field) line.push_back(c == '\t' || c == '\r' || c == '\n' ? ' ' : c);
    first = false;
  }
  line.append("\r\n");
  return line;
}

std::string ProofFileName(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string name(path.substr(0, dot));
  name.append("_Proof").append(path.substr(dot));
  return name;
}

}  // namespace rovalink::commands
