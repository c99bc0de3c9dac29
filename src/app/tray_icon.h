#pragma once

#include <cstdint>
#include <string>

#include "platform/ui_port.h"

namespace rovalink::app {

// Mouse messages of the tray icon, numbered as the desktop's window messages.
namespace tray_message {
inline constexpr std::int32_t kMouseMove = 512;
inline constexpr std::int32_t kLeftButtonDown = 513;
inline constexpr std::int32_t kLeftButtonUp = 514;
inline constexpr std::int32_t kLeftButtonDoubleClick = 515;
inline constexpr std::int32_t kRightButtonDown = 516;
inline constexpr std::int32_t kRightButtonUp = 517;
inline constexpr std::int32_t kRightButtonDoubleClick = 518;
}  // namespace tray_message

// The object the tray icon hands its mouse messages to (the main window).
class TrayIconOwner {
 public:
  virtual ~TrayIconOwner() = default;
  virtual void TrayIconCallback(std::int32_t msg) = 0;
};

// The notification-area icon: adds, modifies and removes it through the UI port, and passes the
// button messages of the icon to its owner.
class TrayIcon {
 public:
  // What the last Update asked of the desktop.
  enum class Operation { None, Add, Modify, Delete };

  // The desktop keeps this many characters of a tool tip.
  static constexpr std::size_t kTipLength = 64;

  explicit TrayIcon(platform::UiPort& ui);
  // Unloading removes the icon.
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // The caption is the tool tip of the icon.
  void setCaption(std::string caption) { m_caption = std::move(caption); }
  const std::string& caption() const { return m_caption; }

  void SetCallback(TrayIconOwner* ob) { m_owner = ob; }

  // IconOn: add the icon, or modify it when it is already shown. Otherwise remove it when shown.
  void Update(bool IconOn);
  void Unload() { Update(false); }

  // A mouse message from the desktop. Only button messages (513..518) reach the owner; a
  // message arriving while the owner is still handling one is dropped.
  void mouseMessage(std::int32_t msg);

  bool iconShown() const { return m_iconShown; }
  Operation lastOperation() const { return m_lastOperation; }

  // The tool tip the desktop shows for a caption.
  static std::string TipText(const std::string& caption);

 private:
  platform::UiPort& m_ui;
  TrayIconOwner* m_owner = nullptr;
  std::string m_caption;
  bool m_iconShown = false;
  bool m_inCallback = false;
  Operation m_lastOperation = Operation::None;
};

}  // namespace rovalink::app
