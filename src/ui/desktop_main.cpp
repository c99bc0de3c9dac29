#include <QApplication>
#include <memory>
#include <optional>

#include "app/gateway.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_signal_watcher.h"
#include "ui/desktop_module.h"
#include "ui/desktop_ui_port.h"
#include "ui/main_window_view.h"
#include "ui/tray_icon_view.h"
#include "ui/video_window_view.h"

// The desktop's start: the windows, the tray icon and the gateway behind them.
extern "C" int rovalink_run_desktop(int argc, char** argv,
                                    const rovalink::ui::DesktopStart* start) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // closing the main window only hides it
  rovalink::platform::QtPlatform platform;
  rovalink::ui::DesktopUiPort port;
  port.setProcessEnd([&platform](int code) { platform.loop().quit(code); });

  struct Views {
    explicit Views(rovalink::app::Gateway& g)
        : main(g.mainWindow()), video(g.videoWindow()), tray(g.trayIcon(), g.mainWindow()) {}
    rovalink::ui::MainWindowView main;
    rovalink::ui::VideoWindowView video;
    rovalink::ui::TrayIconView tray;
  };
  std::unique_ptr<Views> views;
  rovalink::app::Gateway gateway(platform, &port, start->launchLocation(),
                                 [&platform](int code) { platform.loop().quit(code); });
  gateway.onModelsReady([&](rovalink::app::Gateway& g) {
    views = std::make_unique<Views>(g);
    port.attach(&views->main, &views->video, &views->tray);
  });

  rovalink::platform::QtSignalWatcher signalWatcher(
      [&gateway, start](int signal) { start->onTerminationSignal(gateway, signal); });

  std::optional<int> exitCode = gateway.Start();
  const int code = exitCode ? *exitCode : platform.loop().run();
  views.reset();  // the views go before the models they show
  return code;
}
