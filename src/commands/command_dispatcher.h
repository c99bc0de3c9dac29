#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "commands/command.h"
#include "commands/command_queue.h"
#include "platform/clock.h"
#include "platform/event_loop.h"

namespace rovalink::commands {

// Runs the robot procedures by name (motions, LEDs, sounds, volume, speed, media, dock,
// "LoginSequence", "Login_Post2", "ConnectedOff", ...). The robot link implements it from one
// table. The dispatcher handles "ConnectedOn" and the "File" family itself and never passes
// them here; for "ConnectedOn" it replaces the queue and then runs "LoginSequence" through
// this interface.
class ProcedureRunner {
 public:
  virtual ~ProcedureRunner() = default;

  // Runs the action for command.Procedure. Returns false when the name is not one of the
  // runner's (the command then has no effect). May pump events. An exception thrown here is
  // contained by the dispatcher: the command is dropped and dispatching goes on.
  virtual bool runProcedure(const Command& command) = 0;
};

// Called for every dispatched command before its pacing wait (the path recorder).
class RecordHook {
 public:
  virtual ~RecordHook() = default;
  virtual void recordCommand(const Command& command) = 0;
};

// The path player's side of the dispatcher.
class PathRunHooks {
 public:
  virtual ~PathRunHooks() = default;
  // "File", "FileOn" and "FileOff": start or stop a path run.
  virtual void fileAction(const std::string& procedure, const std::string& parameter) = 0;
  // Called after every dispatched command has been removed from the queue.
  virtual void proofCommand(const Command& command) = 0;
  // Whether a path run is on.
  virtual bool pathRunning() const = 0;
};

// The single paced dispatcher: owns `CommandQueue`, `CommandTimer` (1 ms) and `SyncTimer`,
// and the dispatcher state. One `CommandTimer` tick empties the queue, reproducing the gaps
// between time stamps (pacing wait) and pumping events while it waits.
class CommandDispatcher {
 public:
  static constexpr int kDefaultMaxSyncGap = 5000;
  static constexpr int kSyncSliceMs = 32000;
  // Commands refused while the queue is full are counted and told once per this period.
  static constexpr int kRefusedReportMs = 5000;

  using ActionErrorHandler =
      std::function<void(const std::string& procedure, const std::string& error)>;

  // Start-up values: `PreviousTimeStamp` -1, `LastSentTime` = now, the others 0.
  CommandDispatcher(platform::EventLoop& loop, platform::Clock& clock);
  ~CommandDispatcher();
  CommandDispatcher(const CommandDispatcher&) = delete;
  CommandDispatcher& operator=(const CommandDispatcher&) = delete;

  void setProcedureRunner(ProcedureRunner* runner) { m_runner = runner; }
  void setRecordHook(RecordHook* hook) { m_recordHook = hook; }
  void setPathRunHooks(PathRunHooks* hooks) { m_pathHooks = hooks; }
  // Told about an action that threw; the default writes a diagnostic.
  void setActionErrorHandler(ActionErrorHandler handler) { m_onActionError = std::move(handler); }
  // Told the count of refused commands (one text per kRefusedReportMs); the default writes a
  // diagnostic.
  void setRefusedReporter(std::function<void(const std::string& text)> reporter) {
    m_onRefused = std::move(reporter);
  }

  CommandQueue& queue() { return m_queue; }
  const CommandQueue& queue() const { return m_queue; }

  // Appends {procedure, "", 0} and wakes the dispatcher.
  void QueueCommand(const std::string& procedure);
  // Appends {procedure, "", now} and wakes the dispatcher (keyboard drive).
  void QueueTimedCommand(const std::string& procedure);
  // Appends a command built by the caller and wakes the dispatcher. A door's command beyond the
  // queue's bound is refused (and counted). A MoveStop from outside a path drops every motion
  // still queued and goes out next (one timed later by the bus keeps its place); a MoveStop or
  // "File" command while a path runs ends the run at once.
  void QueueCommand(Command command);
  // QueueCommand, then, when the dispatcher is idle (nothing paced or running ahead), runs the
  // queue before returning: a door that answers its client (the live page) answers after the
  // robot has the command, not before.
  void runCommandNow(Command command);
  // Enables `CommandTimer` unless a tick is running (that tick reaches new commands itself).
  void StartCommandTimer();

  // Shutdown: ends a pacing wait at once; no action runs and nothing is dispatched any more.
  void Shutdown();

  bool CommandBusy() const { return m_CommandBusy; }
  double CurrentTimeStamp() const { return m_CurrentTimeStamp; }
  double PreviousTimeStamp() const { return m_PreviousTimeStamp; }
  double TakenTime() const { return m_TakenTime; }
  double LastSentTime() const { return m_LastSentTime; }
  std::int32_t MaxSyncGap() const { return m_MaxSyncGap; }
  void SetMaxSyncGap(std::int32_t ms) { m_MaxSyncGap = ms; }

  // The pause (ms) the pacing wait would make for the given values; < 1 means none.
  // Exposed for tests and the benchmark; the tick uses it.
  std::int64_t pacingDelayMs(double currentTimeStamp, double previousTimeStamp, double takenTime,
                             double lastSentTime) const;

 private:
  void onCommandTimer();
  void pacingWait();
  // The gap the stamps ask for, in seconds, across midnight.
  static double requestedGap(double currentTimeStamp, double previousTimeStamp);
  void runAction(const Command& command);
  bool stopsAtOnce(const Command& command) const;
  void stopAtOnce(Command command);
  void reportRefused();

  platform::EventLoop& m_loop;
  platform::Clock& m_clock;
  std::unique_ptr<platform::Timer> m_CommandTimer;
  std::unique_ptr<platform::Timer> m_SyncTimer;
  std::unique_ptr<platform::Timer> m_refusedReportTimer;
  CommandQueue m_queue;
  std::size_t m_refused = 0;
  std::function<void(const std::string&)> m_onRefused;

  ProcedureRunner* m_runner = nullptr;
  RecordHook* m_recordHook = nullptr;
  PathRunHooks* m_pathHooks = nullptr;
  ActionErrorHandler m_onActionError;

  bool m_CommandBusy = false;
  bool m_shutDown = false;
  // The command taken from the front (steps 3 to 8 of a dispatch) and whether a stop from
  // outside the path has cancelled it.
  bool m_holding = false;
  // The taken command's action runs (step 8).
  bool m_running = false;
  bool m_takenCancelled = false;
  std::uint64_t m_takenGeneration = 0;
  // The next command starts a new burst: the path's time axis no longer applies.
  bool m_restartPacing = false;
  double m_CurrentTimeStamp = 0.0;
  double m_PreviousTimeStamp = -1.0;
  double m_TakenTime = 0.0;
  double m_LastSentTime = 0.0;
  std::int32_t m_MaxSyncGap = kDefaultMaxSyncGap;
};

}  // namespace rovalink::commands
