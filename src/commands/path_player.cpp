#include "commands/path_player.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "commands/number_text.h"
#include "commands/path_file.h"
#include "commands/time_of_day.h"
#include "platform/diag.h"
#include "platform/file_handle.h"
#include "settings/log_text.h"

namespace rovalink::commands {
namespace {

using settings::kProgramWord;
constexpr const char* kFileDevice = "File";

}  // namespace

PathPlayer::PathPlayer(CommandDispatcher& dispatcher, platform::Clock& clock,
                       platform::Process& process, devices::Devices& devices,
                       ReportStatusFn reportStatus, settings::Services& services,
                       std::string programDataFolder, std::string pathFolder)
    : m_dispatcher(dispatcher),
      m_clock(clock),
      m_process(process),
      m_devices(devices),
      m_reportStatus(std::move(reportStatus)),
      m_services(services),
      m_programDataFolder(std::move(programDataFolder)),
      m_pathFolder(pathFolder.empty() ? m_programDataFolder : std::move(pathFolder)) {}

bool PathPlayer::running() const {
  const devices::Device* device = m_devices.find(kFileDevice);
  return device != nullptr && device->Status;
}

void PathPlayer::setRunning(bool on) {
  if (devices::Device* device = m_devices.find(kFileDevice)) device->Status = on;
}

std::string PathPlayer::proofFilePath(const std::string& path) const {
  std::string proof = ProofFileName(path);
  if (proof.empty()) {
    proof = (std::filesystem::path(m_programDataFolder) / "Proof.txt").string();
  }
  return proof;
}

void PathPlayer::writeProof(const std::string& line) {
  m_ProofFile.write(line);  // a failed write is reported when the file is closed
}

void PathPlayer::closeProof() {
  std::string error;
  if (!m_ProofFile.close(&error)) m_services.LogError(kProgramWord, "ProofFile", error);
}

bool PathPlayer::takeChosenFile(const std::string& path) {
  const auto found = std::find(m_chosenFiles.begin(), m_chosenFiles.end(), path);
  if (found == m_chosenFiles.end()) return false;
  m_chosenFiles.erase(found);
  return true;
}

void PathPlayer::fileAction(const std::string& procedure, const std::string& parameter) {
  const bool chosenByUser = takeChosenFile(parameter);
  if (parameter == "End" || running()) {
    setRunning(false);
    m_dispatcher.SetMaxSyncGap(CommandDispatcher::kDefaultMaxSyncGap);
    if (m_ProofFile.isOpen()) {
      if (!m_ProofProcedure.empty()) {
        const std::string planned =
            FormatSeconds3(m_dispatcher.CurrentTimeStamp() - m_ProofTimeStamp);
        writeProof(FormatFileLine({m_ProofElapsed, m_ProofProcedure, planned, m_ProofParameter}));
      }
      const std::string elapsed = FormatSeconds3(ElapsedSince(m_clock.timeOfDay(), m_ReplayStart));
      writeProof(FormatFileLine({elapsed, procedure, "0", parameter}));
      closeProof();
    }
    if (!m_process.setPriority(platform::PriorityClass::Normal)) {
      diag::warning("path run: the process priority could not be set back to normal");
    }
    m_ProofProcedure.clear();
  } else {
    m_ReplayStart = m_clock.timeOfDay();
    m_ProofProcedure.clear();
    // A file that was refused or could not be read leaves the device off.
    if (RunPathFile(parameter, chosenByUser)) {
      if (!m_process.setPriority(platform::PriorityClass::High)) {
        diag::warning("path run: the system refused high process priority; timing may suffer");
      }
      setRunning(true);
    }
  }
  if (m_reportStatus) m_reportStatus(kFileDevice, false);
}

void PathPlayer::proofCommand(const Command& command) {
  if (!running()) return;
  if (!m_ProofProcedure.empty()) {
    const std::string planned = FormatSeconds3(m_dispatcher.CurrentTimeStamp() - m_ProofTimeStamp);
    writeProof(FormatFileLine({m_ProofElapsed, m_ProofProcedure, planned, m_ProofParameter}));
  }
  m_ProofElapsed = FormatSeconds3(ElapsedSince(m_clock.timeOfDay(), m_ReplayStart));
  m_ProofProcedure = command.Procedure;
  m_ProofParameter = command.Parameter;
  m_ProofTimeStamp = m_dispatcher.CurrentTimeStamp();
}

bool PathPlayer::RunPathFile(const std::string& path, bool chosenByUser) {
  if (m_ProofFile.isOpen()) closeProof();
  const std::string fileText = "File command file " + settings::QuotedLine(path);
  std::string file = path;
  std::string proof;
  std::error_code ec;
  if (chosenByUser) {
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
      m_services.LogEvent(kProgramWord, fileText + " does not exist");
      return false;
    }
    proof = proofFilePath(path);
  } else {
    PathFolder::Resolved resolved = m_pathFolder.resolve(path);
    if (resolved.outcome == PathFolder::Outcome::Refused) {
      m_services.LogEvent(kProgramWord, fileText + " is outside the path folder; refused");
      return false;
    }
    if (resolved.outcome == PathFolder::Outcome::Missing) {
      m_services.LogEvent(kProgramWord, fileText + " does not exist");
      return false;
    }
    file = std::move(resolved.file);
    proof = resolved.proofFile.empty() ? proofFilePath("") : std::move(resolved.proofFile);
  }
  std::string text;
  std::string error;
  // The resolved name holds no links, so one put in its place since is not followed.
  if (platform::ReadSmallFile(file, kMaxPathFileBytes, chosenByUser, text, error) !=
      platform::ReadResult::Ok) {
    m_services.LogEvent(kProgramWord, fileText + " cannot be read", error);
    return false;
  }

  PathRunPlan plan = PlanPathRun(text, m_dispatcher.MaxSyncGap());
  if (!m_ProofFile.open(proof, &error)) {
    m_services.LogError(kProgramWord, "RunPathFile", error);
  }
  m_dispatcher.SetMaxSyncGap(plan.maxSyncGap);
  for (const std::string& line : plan.unusableLines) {
    m_services.LogEvent(
        kProgramWord, "Command line does not have a time parameter: " + settings::QuotedLine(line));
  }
  if (plan.unusableCount > plan.unusableLines.size()) {
    m_services.LogEvent(kProgramWord,
                        std::to_string(plan.unusableCount - plan.unusableLines.size()) +
                            " more command lines do not have a time parameter");
  }
  if (plan.refusedCommands > 0) {
    m_services.LogEvent(kProgramWord, fileText + " holds more than " +
                                          std::to_string(kMaxPathCommands) + " commands; " +
                                          std::to_string(plan.refusedCommands) + " refused");
  }
  for (const auto& [reason, line] : plan.refusedLines) {
    m_services.LogEvent(kProgramWord, "Command line " + reason + ": " + settings::QuotedLine(line));
  }
  if (plan.refusedLinesNotKept > 0) {
    m_services.LogEvent(kProgramWord, std::to_string(plan.refusedLinesNotKept) +
                                          " more command lines have a duration out of range");
  }
  for (Command& command : plan.commands) {
    command.fromPath = true;
    m_dispatcher.queue().append(std::move(command));
  }
  m_dispatcher.StartCommandTimer();
  return true;
}

void PathPlayer::runChosenFile(const std::string& path) {
  if (path.empty()) return;
  if (m_chosenFiles.size() == kMaxChosenFiles) m_chosenFiles.pop_front();
  m_chosenFiles.push_back(path);
  m_dispatcher.QueueCommand(Command{"File", path, 0.0});
}

}  // namespace rovalink::commands
