#include "app/headless_ui_port.h"

#include <iostream>

#include "settings/services.h"

namespace rovalink::app {

HeadlessUiPort::HeadlessUiPort(xap::ErrorLog& errorLog, std::function<void(int)> onExit)
    : m_errorLog(errorLog), m_onExit(std::move(onExit)) {}

void HeadlessUiPort::messageBox(const std::string& text) {
  std::cerr << "Rovalink: " << text << std::endl;
  m_errorLog.LogError(settings::kProgramWord, "MsgBox", text);
}

std::optional<std::string> HeadlessUiPort::chooseFile(const std::string&) {
  return std::nullopt;
}

void HeadlessUiPort::exitProcess(int exitCode) {
  if (m_onExit) m_onExit(exitCode);
}

}  // namespace rovalink::app
