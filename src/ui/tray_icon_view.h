#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

#include "app/main_window.h"
#include "app/tray_icon.h"

namespace rovalink::ui {

// The tray icon on the desktop and its menu "Spykee". Button releases on the icon reach the
// tray logic as the desktop's mouse messages; the menu items reach the main window.
class TrayIconView : public QObject {
  Q_OBJECT

 public:
  TrayIconView(app::TrayIcon& tray, app::MainWindow& window, QObject* parent = nullptr);
  ~TrayIconView() override;

  // Shows (and updates the tool tip of) or hides the icon.
  void update(bool iconOn, const QString& tooltip);

  // The mouse message for one of Qt's activation reasons; 0 when it has none.
  static std::int32_t messageFor(QSystemTrayIcon::ActivationReason reason);

  QMenu& menu() { return *m_menu; }
  QSystemTrayIcon& icon() { return m_icon; }

 private:
  void popupMenu();

  app::TrayIcon& m_tray;
  app::MainWindow& m_window;
  QSystemTrayIcon m_icon;
  std::unique_ptr<QMenu> m_menu;
  bool m_unavailableReported = false;
};

}  // namespace rovalink::ui
