#pragma once

namespace rovalink::commands {

inline constexpr double kSecondsPerDay = 86400.0;

// Seconds from `earlier` to `now`, both times of day: a clock that passed midnight in between
// has wrapped to 0, so a negative difference means one day more.
inline double ElapsedSince(double now, double earlier) {
  const double elapsed = now - earlier;
  return elapsed < 0.0 ? elapsed + kSecondsPerDay : elapsed;
}

}  // namespace rovalink::commands
