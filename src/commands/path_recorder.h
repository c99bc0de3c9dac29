#pragma once

#include <string>

#include "commands/command_dispatcher.h"
#include "commands/replacing_file.h"
#include "platform/clock.h"
#include "platform/ui_port.h"
#include "settings/services.h"

namespace rovalink::commands {

// Writes every dispatched command, with the time until the next one, into a path file while
// the user has recording switched on (the main window's `aRecordPath` button).
class PathRecorder : public RecordHook {
 public:
  // programDataFolder: where the file dialog starts (Data/xapqbtSpykee).
  PathRecorder(platform::Clock& clock, platform::UiPort& ui, settings::Services& services,
               std::string programDataFolder);

  // `aRecordPath` click: asks for a file and starts recording, or stops recording.
  void aRecordPathClick();

  // Starts recording into path (what the click does once a file is chosen). False, and not
  // recording, when the file cannot be created.
  bool startRecording(const std::string& path);
  // Writes the pending command and the end line, closes the file.
  void stopRecording();

  bool Recording() const { return m_Recording; }
  // The button's caption: "Record File" at first, "Stop Record" while recording, then
  // "Record Path".
  const std::string& caption() const { return m_caption; }

  void recordCommand(const Command& command) override;

 private:
  void writeLine(const std::string& line);

  platform::Clock& m_clock;
  platform::UiPort& m_ui;
  settings::Services& m_services;
  std::string m_programDataFolder;

  bool m_Recording = false;
  ReplacingFile m_RecordFile;
  double m_RecordLastTime = 0.0;
  std::string m_RecordProcedure;
  std::string m_RecordParameter;
  std::string m_caption = "Record File";
};

}  // namespace rovalink::commands
