#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "commands/command_dispatcher.h"
#include "commands/path_folder.h"
#include "commands/replacing_file.h"
#include "devices/devices.h"
#include "platform/clock.h"
#include "platform/host_info.h"
#include "settings/services.h"

namespace rovalink::commands {

// Replays path files: the "File" family action queues a file's commands with time stamps that
// make the dispatcher reproduce the recorded durations, and a proof file records what actually
// ran and when. The run state is the `Status` of the device "File".
class PathPlayer : public PathRunHooks {
 public:
  // ReportStatus(device name, isInfo) of the status reporting.
  using ReportStatusFn = std::function<void(const std::string& deviceName, bool isInfo)>;

  // programDataFolder (Data/xapqbtSpykee) holds Proof.txt for a path without a "."; path files
  // named by a "File" command must lie in pathFolder (empty: programDataFolder), unless the
  // user chose them (runChosenFile).
  PathPlayer(CommandDispatcher& dispatcher, platform::Clock& clock, platform::Process& process,
             devices::Devices& devices, ReportStatusFn reportStatus, settings::Services& services,
             std::string programDataFolder, std::string pathFolder = {});

  // "File", "FileOn", "FileOff" (all alike): stops a running path or "End", else starts one.
  void fileAction(const std::string& procedure, const std::string& parameter) override;
  void proofCommand(const Command& command) override;
  bool pathRunning() const override { return running(); }

  // Reads the path file, opens the proof file and queues the commands. A path the user chose
  // may lie anywhere; any other must lie in the path folder. False (after an event) when the
  // file was refused, missing or unreadable: then nothing is opened, created or queued.
  bool RunPathFile(const std::string& path, bool chosenByUser = false);

  // `aRunPath` after the file dialog: queues a "File" command for the chosen path, which may
  // then lie outside the path folder.
  void runChosenFile(const std::string& path);

  bool running() const;
  // The proof file of the current or last run.
  std::string proofFilePath(const std::string& path) const;

  // Path files larger than this are refused (a path file is a few kB).
  static constexpr std::uintmax_t kMaxPathFileBytes = 16u * 1024 * 1024;
  // Chosen files whose "File" command has not run yet (more are forgotten, oldest first).
  static constexpr std::size_t kMaxChosenFiles = 16;

 private:
  void setRunning(bool on);
  void writeProof(const std::string& line);
  void closeProof();
  bool takeChosenFile(const std::string& path);

  CommandDispatcher& m_dispatcher;
  platform::Clock& m_clock;
  platform::Process& m_process;
  devices::Devices& m_devices;
  ReportStatusFn m_reportStatus;
  settings::Services& m_services;
  std::string m_programDataFolder;
  PathFolder m_pathFolder;
  std::deque<std::string> m_chosenFiles;

  ReplacingFile m_ProofFile;
  double m_ReplayStart = 0.0;
  std::string m_ProofElapsed;
  std::string m_ProofProcedure;
  std::string m_ProofParameter;
  double m_ProofTimeStamp = 0.0;
};

}  // namespace rovalink::commands
