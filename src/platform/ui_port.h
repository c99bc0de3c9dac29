#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rovalink::platform {

// Arrow keys, numbered as the desktop's virtual-key codes.
enum class ArrowKey : int { Left = 37, Up = 38, Right = 39, Down = 40 };

// What the core needs from a desktop. The Qt Widgets views implement it; headless mode and the
// tests have their own implementations. Views observe the window models; this port carries only
// the calls that the core itself makes.
class UiPort {
 public:
  virtual ~UiPort() = default;

  // A message box with an OK button and the application's title. Returns once acknowledged
  // (headless: at once, after writing the text to stderr and the error log).
  virtual void messageBox(const std::string& text) = 0;

  // A file-open dialog with the filter "Text (*.txt) | *.txt", starting in startFolder.
  // Returns the chosen full path, or nothing when cancelled or when there is no desktop.
  virtual std::optional<std::string> chooseFile(const std::string& startFolder) = 0;

  virtual void showMainWindow() = 0;
  virtual void hideMainWindow() = 0;
  virtual void showVideoWindow() = 0;

  // Decodes one camera frame (a JPEG image) into the video window's image control; a frame
  // that cannot be decoded leaves the last picture.
  virtual void showFrame(std::string_view jpeg) = 0;
  // Puts the "no video" picture in place of the last frame (none without a desktop).
  virtual void showNoVideo() {}

  // Adds or modifies (on) or removes (off) the tray icon; the tool tip is tooltip.
  virtual void updateTrayIcon(bool iconOn, const std::string& tooltip) = 0;

  // The asynchronous key state: down now, or pressed since the last query of that key.
  virtual bool isKeyDown(ArrowKey key) = 0;

  // Ends the process with the exit code, after the caller's own orderly shutdown.
  virtual void exitProcess(int exitCode) = 0;
};

}  // namespace rovalink::platform
