#include "commands/path_player.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "commands/number_text.h"
#include "commands/path_file.h"
#include "commands/time_of_day.h"
#include "platform/diag.h"

namespace rovalink::commands {
namespace {

using settings::kProgramWord;
constexpr const char* kFileDevice = "File";

}  // namespace

PathPlayer::PathPlayer(CommandDispatcher& dispatcher, platform::Clock& clock,
                       platform::Process& process, devices::Devices& devices,
                       ReportStatusFn reportStatus, settings::Services& services,
                       std::string programDataFolder)
    : m_dispatcher(dispatcher),
      m_clock(clock),
      m_process(process),
      m_devices(devices),
      m_reportStatus(std::move(reportStatus)),
      m_services(services),
      m_programDataFolder(std::move(programDataFolder)) {}

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

void PathPlayer::fileAction(const std::string& procedure, const std::string& parameter) {
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
    if (!m_process.setPriority(platform::PriorityClass::High)) {
      diag::warning("path run: the system refused high process priority; timing may suffer");
    }
    RunPathFile(parameter);
    setRunning(true);
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

void PathPlayer::RunPathFile(const std::string& path) {
  if (m_ProofFile.isOpen()) closeProof();
  std::string error;
  if (!m_ProofFile.open(proofFilePath(path), &error)) {
    m_services.LogError(kProgramWord, "RunPathFile", error);
  }

  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
    m_services.LogEvent(kProgramWord, "File command file " + path + " does not exist");
    return;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxPathFileBytes) {
    m_services.LogEvent(kProgramWord, "File command file " + path + " cannot be read");
    return;
  }
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    m_services.LogEvent(kProgramWord, "File command file " + path + " cannot be read");
    return;
  }

  PathRunPlan plan = PlanPathRun(text, m_dispatcher.MaxSyncGap());
  m_dispatcher.SetMaxSyncGap(plan.maxSyncGap);
  for (const std::string& line : plan.unusableLines) {
    m_services.LogEvent(kProgramWord, "Command line does not have a time parameter: " + line);
  }
  for (const auto& [reason, line] : plan.refusedLines) {
    m_services.LogEvent(kProgramWord, "Command line " + reason + ": " + line);
  }
  for (Command& command : plan.commands) {
    command.fromPath = true;
    m_dispatcher.queue().append(std::move(command));
  }
  m_dispatcher.StartCommandTimer();
}

void PathPlayer::runChosenFile(const std::string& path) {
  if (path.empty()) return;
  m_dispatcher.QueueCommand(Command{"File", path, 0.0});
}

}  // namespace rovalink::commands
