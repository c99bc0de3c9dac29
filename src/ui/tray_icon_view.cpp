#include "ui/tray_icon_view.h"

#include <QCursor>

#include "platform/diag.h"
#include "ui/app_icon.h"

namespace rovalink::ui {

TrayIconView::TrayIconView(app::TrayIcon& tray, app::MainWindow& window, QObject* parent)
    : QObject(parent), m_tray(tray), m_window(window), m_menu(std::make_unique<QMenu>("Spykee")) {
  m_menu->setObjectName("Menu");
  for (int index = 0; index < static_cast<int>(app::kMenuItems.size()); ++index) {
    const std::string_view item = app::kMenuItems[index];
    if (item == "-") {
      m_menu->addSeparator();
      continue;
    }
    QAction* action =
        m_menu->addAction(QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size())));
    action->setObjectName(QString("MenuArray%1").arg(index));
    connect(action, &QAction::triggered, this, [this, index] { m_window.MenuArrayClick(index); });
  }
  m_icon.setIcon(appIcon());
  // No context menu of Qt's own: a right click goes through the tray logic like a left one.
  connect(&m_icon, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (const std::int32_t msg = messageFor(reason); msg != 0) m_tray.mouseMessage(msg);
          });
  m_window.setMenuPopup([this] { popupMenu(); });
}

TrayIconView::~TrayIconView() {
  m_window.setMenuPopup(nullptr);
}

std::int32_t TrayIconView::messageFor(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return app::tray_message::kLeftButtonUp;
    case QSystemTrayIcon::Context:
      return app::tray_message::kRightButtonUp;
    case QSystemTrayIcon::DoubleClick:
      return app::tray_message::kLeftButtonDoubleClick;
    default:
      return 0;
  }
}

void TrayIconView::update(bool iconOn, const QString& tooltip) {
  if (!iconOn) {
    m_icon.hide();
    return;
  }
  if (!QSystemTrayIcon::isSystemTrayAvailable() && !m_unavailableReported) {
    m_unavailableReported = true;
    diag::warning("no system tray on this desktop: the tray icon and its menu cannot be shown");
  }
  m_icon.setToolTip(tooltip);
  m_icon.show();
}

void TrayIconView::popupMenu() {
  // The menu's right edge at the pointer.
  const QPoint pointer = QCursor::pos();
  m_menu->popup(QPoint(pointer.x() - m_menu->sizeHint().width(), pointer.y()));
}

}  // namespace rovalink::ui
