#include "commands/command_dispatcher.h"

#include <cmath>
#include <exception>
#include <limits>

#include "commands/time_of_day.h"
#include "platform/diag.h"

namespace rovalink::commands {
namespace {

bool isFileFamily(const std::string& procedure) {
  return procedure == "File" || procedure == "FileOn" || procedure == "FileOff";
}

}  // namespace

CommandDispatcher::CommandDispatcher(platform::EventLoop& loop, platform::Clock& clock)
    : m_loop(loop),
      m_clock(clock),
      m_CommandTimer(loop.createTimer()),
      m_SyncTimer(loop.createTimer()),
      m_LastSentTime(clock.timeOfDay()) {
  m_CommandTimer->setEnabled(false);
  m_CommandTimer->setInterval(1);
  m_CommandTimer->onTick([this] { onCommandTimer(); });
  m_SyncTimer->setEnabled(false);
  m_SyncTimer->onTick([this] { m_SyncTimer->setEnabled(false); });
}

CommandDispatcher::~CommandDispatcher() = default;

void CommandDispatcher::QueueCommand(const std::string& procedure) {
  QueueCommand(Command{procedure, "", 0.0});
}

void CommandDispatcher::QueueTimedCommand(const std::string& procedure) {
  QueueCommand(Command{procedure, "", m_clock.timeOfDay()});
}

bool stopsPath(const Command& command) {
  return !command.fromPath && (isFileFamily(command.Procedure) || command.Procedure == "MoveStop");
}

void CommandDispatcher::QueueCommand(Command command) {
  if (m_shutDown) return;
  if (stopsPath(command) && m_pathHooks && m_pathHooks->pathRunning()) {
    stopPathAtOnce(std::move(command));
    return;
  }
  m_queue.append(std::move(command));
  StartCommandTimer();
}

void CommandDispatcher::stopPathAtOnce(Command command) {
  // A stop that waited behind the path's pacing gap (hours, for a long line) could stop
  // nothing: the path's remaining commands go, the command being paced with them.
  const bool frontIsTaken =
      m_holding && !m_queue.empty() && m_queue.generation() == m_takenGeneration;
  const bool takenIsPath = frontIsTaken && m_queue.front().fromPath;
  m_queue.removeIf([](const Command& c) { return c.fromPath; });
  if (takenIsPath) {
    m_takenCancelled = true;
    m_SyncTimer->setEnabled(false);
  }
  m_restartPacing = true;
  // Writes the stop line, sets "File" off and reports it.
  m_pathHooks->fileAction(command.Procedure, command.Parameter);
  if (command.Procedure == "MoveStop") {
    // Then the motors stop, ahead of anything else that waits.
    const bool behindTaken = m_holding && !m_takenCancelled && !m_queue.empty() &&
                             m_queue.generation() == m_takenGeneration;
    m_queue.insert(behindTaken ? 1 : 0, std::move(command));
  }
  StartCommandTimer();
}

void CommandDispatcher::Shutdown() {
  m_shutDown = true;
  m_queue.Replace();
  m_SyncTimer->setEnabled(false);
  m_CommandTimer->setEnabled(false);
}

void CommandDispatcher::StartCommandTimer() {
  if (m_CommandBusy || m_shutDown) return;
  m_CommandTimer->setInterval(1);
  m_CommandTimer->setEnabled(true);
  // Nothing is being paced ahead of the new command (the running dispatcher would take it):
  // it goes out as soon as the loop is free rather than a millisecond tick later.
  m_CommandTimer->tickSoon();
}

double CommandDispatcher::requestedGap(double currentTimeStamp, double previousTimeStamp) {
  double requested = currentTimeStamp - previousTimeStamp;
  // Two time-of-day stamps on either side of midnight: the later one has wrapped to near 0.
  // A stamp of 0 means "at once" and is never taken for a wrapped time.
  if (currentTimeStamp != 0.0 && previousTimeStamp > 0.0 && requested < -kSecondsPerDay / 2) {
    requested += kSecondsPerDay;
  }
  return requested;
}

std::int64_t CommandDispatcher::pacingDelayMs(double currentTimeStamp, double previousTimeStamp,
                                              double takenTime, double lastSentTime) const {
  const double requested = requestedGap(currentTimeStamp, previousTimeStamp);
  const double passed = ElapsedSince(takenTime, lastSentTime);
  const double ms = std::nearbyint((requested - passed) * 1000.0);
  if (std::isnan(ms)) return 0;
  constexpr double kLimit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
  if (ms > kLimit) return std::numeric_limits<std::int32_t>::max();
  if (ms < -kLimit) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int64_t>(ms);
}

void CommandDispatcher::pacingWait() {
  const std::int64_t rounded =
      pacingDelayMs(m_CurrentTimeStamp, m_PreviousTimeStamp, m_TakenTime, m_LastSentTime);
  // A gap of MaxSyncGap or more is a pause between sessions, not part of a sequence: skipped.
  if (rounded < 1 || rounded >= m_MaxSyncGap) return;
  // Whether to wait follows the whole milliseconds; how long does not. The gap ends where the
  // stamps put it after the previous send, to the nanosecond: a rest rounded to whole ms, or
  // counted from when the wait starts, would make every gap end late.
  const double gap = requestedGap(m_CurrentTimeStamp, m_PreviousTimeStamp);
  constexpr std::int64_t kSliceNanos = std::int64_t{kSyncSliceMs} * 1'000'000;
  while (!m_takenCancelled && !m_shutDown) {
    const double left = gap - ElapsedSince(m_clock.timeOfDay(), m_LastSentTime);
    const double nanos = std::nearbyint(left * 1e9);
    if (!(nanos >= 1.0)) break;
    m_SyncTimer->setIntervalNanos(
        nanos < static_cast<double>(kSliceNanos) ? static_cast<std::int64_t>(nanos) : kSliceNanos);
    m_SyncTimer->setEnabled(true);
    while (m_SyncTimer->enabled() && !m_takenCancelled && !m_shutDown) {
      if (!m_loop.waitForEvent()) {
        // Nothing can ever end the wait (a loop that is shutting down): do not spin.
        m_SyncTimer->setEnabled(false);
        return;
      }
    }
  }
  m_SyncTimer->setEnabled(false);
}

void CommandDispatcher::runAction(const Command& command) {
  try {
    if (command.Procedure == "ConnectedOn") {
      m_queue.Replace();
      if (m_runner) m_runner->runProcedure(Command{"LoginSequence", "", command.TimeStamp});
    } else if (isFileFamily(command.Procedure)) {
      if (m_pathHooks) m_pathHooks->fileAction(command.Procedure, command.Parameter);
    } else if (m_runner) {
      m_runner->runProcedure(command);
    }
  } catch (const std::exception& e) {
    if (m_onActionError) {
      m_onActionError(command.Procedure, e.what());
    } else {
      diag::error("command " + command.Procedure + " failed: " + e.what());
    }
  }
}

void CommandDispatcher::onCommandTimer() {
  if (m_CommandBusy) return;  // a tick delivered inside our own pacing wait
  m_CommandBusy = true;
  m_CommandTimer->setEnabled(false);
  for (;;) {
    if (m_queue.empty() || m_shutDown) {
      m_CommandBusy = false;
      m_CurrentTimeStamp = 0.0;
      m_PreviousTimeStamp = 0.0;
      m_TakenTime = 0.0;
      m_LastSentTime = 0.0;
      return;
    }
    const Command command = m_queue.front();
    const std::uint64_t generation = m_queue.generation();
    m_holding = true;
    m_takenCancelled = false;
    m_takenGeneration = generation;
    if (m_restartPacing) {
      // After a path was stopped the next command is the first of a new burst.
      m_restartPacing = false;
      m_PreviousTimeStamp = 0.0;
      m_LastSentTime = 0.0;
    }
    m_CurrentTimeStamp = command.TimeStamp;
    m_TakenTime = m_clock.timeOfDay();
    if (m_recordHook) m_recordHook->recordCommand(command);
    pacingWait();
    m_holding = false;
    if (m_takenCancelled || m_shutDown) continue;  // already off the queue, or nothing may run
    m_LastSentTime = m_clock.timeOfDay();
    runAction(command);
    // The action (or an event during the wait) may have replaced the queue: then the command
    // is already gone and nothing else may be removed in its place.
    if (m_queue.generation() == generation && !m_queue.empty()) m_queue.removeFront();
    if (m_pathHooks) m_pathHooks->proofCommand(command);
    m_PreviousTimeStamp = m_CurrentTimeStamp;
  }
}

}  // namespace rovalink::commands
