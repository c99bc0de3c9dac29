#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/ui_port.h"
#include "xap/error_log.h"

namespace rovalink::app {

// The UI port of `rovalink --headless`: no windows. A message box goes to stderr and to the
// error log, there is no file dialog, and no key is ever down.
class HeadlessUiPort : public platform::UiPort {
 public:
  // errorLog receives every message box; onExit ends the process (the caller's event loop).
  HeadlessUiPort(xap::ErrorLog& errorLog, std::function<void(int)> onExit);

  void messageBox(const std::string& text) override;
  std::optional<std::string> chooseFile(const std::string& startFolder) override;
  void showMainWindow() override {}
  void hideMainWindow() override {}
  void showVideoWindow() override {}
  void showFrame(std::string_view) override {}
  void updateTrayIcon(bool, const std::string&) override {}
  bool isKeyDown(platform::ArrowKey) override { return false; }
  void exitProcess(int exitCode) override;

 private:
  xap::ErrorLog& m_errorLog;
  std::function<void(int)> m_onExit;
};

}  // namespace rovalink::app
