#pragma once

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>

#include "platform/ui_port.h"

namespace rovalink::ui {

class MainWindowView;
class TrayIconView;
class VideoWindowView;

// The UI port on Qt Widgets. The views are attached once they exist (they need the models,
// which need this port); calls before that change nothing on screen.
class DesktopUiPort : public QObject, public platform::UiPort {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Rovalink";
  static constexpr const char* kFileFilter = "Text (*.txt)";

  // Watches the program's events from now on; the arrow keys count only as the video window
  // receives them while it has the focus.
  explicit DesktopUiPort(QObject* parent = nullptr);
  ~DesktopUiPort() override;

  void attach(MainWindowView* mainWindow, VideoWindowView* videoWindow, TrayIconView* tray);

  // How the process ends (Gateway's choice). Without one: leave the event loop when it runs,
  // otherwise exit at once.
  void setProcessEnd(std::function<void(int)> end) { m_processEnd = std::move(end); }

  void messageBox(const std::string& text) override;
  std::optional<std::string> chooseFile(const std::string& startFolder) override;
  void showMainWindow() override;
  void hideMainWindow() override;
  void showVideoWindow() override;
  void showFrame(std::string_view jpeg) override;
  void showNoVideo() override;
  void updateTrayIcon(bool iconOn, const std::string& tooltip) override;
  bool isKeyDown(platform::ArrowKey key) override;
  void exitProcess(int exitCode) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct KeyState {
    bool down = false;
    // Pressed since the last query: a tap between two queries still counts once.
    bool pressedSinceQuery = false;
  };
  static int slotOf(platform::ArrowKey key) { return static_cast<int>(key) - 37; }
  bool receivedByFocusedVideoWindow(QObject* watched) const;
  void releaseAllKeys();

  QPointer<MainWindowView> m_mainWindow;
  QPointer<VideoWindowView> m_videoWindow;
  QPointer<TrayIconView> m_tray;
  std::array<KeyState, 4> m_keys{};
  std::function<void(int)> m_processEnd;
};

}  // namespace rovalink::ui
