#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui_port.h"

namespace rovalink::test {

// A recording desktop: every call is kept in order as one line of text ("messageBox:Spykee not
// found", "trayIcon:on:Spykee", ...), file dialogs answer from a script, and arrow keys behave
// like the asynchronous key state (a tap between two queries counts once).
class FakeUiPort : public platform::UiPort {
 public:
  void messageBox(const std::string& text) override {
    messageBoxes.push_back(text);
    calls.push_back("messageBox:" + text);
  }

  std::optional<std::string> chooseFile(const std::string& startFolder) override {
    dialogFolders.push_back(startFolder);
    calls.push_back("chooseFile:" + startFolder);
    if (fileAnswers.empty()) return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }

  void showMainWindow() override {
    mainWindowVisible = true;
    calls.push_back("showMainWindow");
  }
  void hideMainWindow() override {
    mainWindowVisible = false;
    calls.push_back("hideMainWindow");
  }
  void showVideoWindow() override {
    videoWindowVisible = true;
    calls.push_back("showVideoWindow");
  }
  void showFrame(std::string_view jpeg) override {
    pictures.emplace_back(jpeg);
    calls.push_back("showFrame:" + std::to_string(jpeg.size()));
  }

  void showNoVideo() override { calls.push_back("showNoVideo"); }

  void updateTrayIcon(bool iconOn, const std::string& tooltip) override {
    trayUpdates.push_back({iconOn, tooltip});
    calls.push_back(std::string("trayIcon:") + (iconOn ? "on:" : "off:") + tooltip);
  }

  bool isKeyDown(platform::ArrowKey key) override {
    auto& state = keys[key];
    const bool down = state.held || state.tapped;
    state.tapped = false;
    return down;
  }

  void exitProcess(int exitCode) override {
    exitCodes.push_back(exitCode);
    calls.push_back("exitProcess:" + std::to_string(exitCode));
  }

  // Key driving for tests.
  void press(platform::ArrowKey key) { keys[key].held = true; }
  void release(platform::ArrowKey key) { keys[key].held = false; }
  // Pressed and released again before anyone asked.
  void tap(platform::ArrowKey key) { keys[key].tapped = true; }

  struct TrayUpdate {
    bool iconOn;
    std::string tooltip;
  };
  struct KeyState {
    bool held = false;
    bool tapped = false;
  };

  std::vector<std::string> calls;
  std::vector<std::string> messageBoxes;
  std::vector<std::string> dialogFolders;
  std::deque<std::optional<std::string>> fileAnswers;
  std::vector<std::string> pictures;
  std::vector<TrayUpdate> trayUpdates;
  std::vector<int> exitCodes;
  std::map<platform::ArrowKey, KeyState> keys;
  bool mainWindowVisible = false;
  bool videoWindowVisible = false;
};

}  // namespace rovalink::test
