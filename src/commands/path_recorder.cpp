#include "commands/path_recorder.h"

#include "commands/number_text.h"
#include "commands/path_file.h"
#include "commands/time_of_day.h"

namespace rovalink::commands {
namespace {

using settings::kProgramWord;

}  // namespace

PathRecorder::PathRecorder(platform::Clock& clock, platform::UiPort& ui,
                           settings::Services& services, std::string programDataFolder)
    : m_clock(clock),
      m_ui(ui),
      m_services(services),
      m_programDataFolder(std::move(programDataFolder)) {}

void PathRecorder::aRecordPathClick() {
  if (m_Recording) {
    stopRecording();
    return;
  }
  m_RecordProcedure.clear();
  m_RecordParameter.clear();
  m_RecordLastTime = m_clock.timeOfDay();
  const auto chosen = m_ui.chooseFile(m_programDataFolder);
  if (!chosen || chosen->empty()) {
    m_caption = "Record Path";
    return;
  }
  startRecording(*chosen);
}

bool PathRecorder::startRecording(const std::string& path) {
  if (m_Recording) stopRecording();
  m_RecordProcedure.clear();
  m_RecordParameter.clear();
  m_RecordLastTime = m_clock.timeOfDay();
  std::string error;
  if (!m_RecordFile.open(path, &error)) {
    m_services.LogError(kProgramWord, "RecordPath", error);
    m_caption = "Record Path";
    return false;
  }
  m_Recording = true;
  m_caption = "Stop Record";
  return true;
}

void PathRecorder::stopRecording() {
  if (!m_Recording) return;
  if (!m_RecordProcedure.empty()) {
    writeLine(FormatFileLine({m_RecordProcedure, "0", m_RecordParameter}));
  }
  writeLine(FormatFileLine({"File", "0", "End"}));
  m_Recording = false;
  std::string error;
  if (!m_RecordFile.close(&error)) m_services.LogError(kProgramWord, "RecordPath", error);
  m_caption = "Record Path";
}

void PathRecorder::recordCommand(const Command& command) {
  if (!m_Recording) return;
  const double now = m_clock.timeOfDay();
  if (!m_RecordProcedure.empty()) {
    const std::string duration = FormatSeconds3(ElapsedSince(now, m_RecordLastTime));
    writeLine(FormatFileLine({m_RecordProcedure, duration, m_RecordParameter}));
  }
  m_RecordLastTime = now;
  m_RecordProcedure = command.Procedure;
  m_RecordParameter = command.Parameter;
}

void PathRecorder::writeLine(const std::string& line) {
  // A failed write is reported once, when the file is closed.
  m_RecordFile.write(line);
}

}  // namespace rovalink::commands
