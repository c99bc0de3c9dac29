#include "ui/desktop_ui_port.h"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QThread>
#include <cstdlib>

#include "ui/main_window_view.h"
#include "ui/text.h"
#include "ui/tray_icon_view.h"
#include "ui/video_window_view.h"

namespace rovalink::ui {
namespace {

std::optional<platform::ArrowKey> arrowKeyOf(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Left:
      return platform::ArrowKey::Left;
    case Qt::Key_Up:
      return platform::ArrowKey::Up;
    case Qt::Key_Right:
      return platform::ArrowKey::Right;
    case Qt::Key_Down:
      return platform::ArrowKey::Down;
    default:
      return std::nullopt;
  }
}

}  // namespace

DesktopUiPort::DesktopUiPort(QObject* parent) : QObject(parent) {
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

DesktopUiPort::~DesktopUiPort() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

void DesktopUiPort::attach(MainWindowView* mainWindow, VideoWindowView* videoWindow,
                           TrayIconView* tray) {
  m_mainWindow = mainWindow;
  m_videoWindow = videoWindow;
  m_tray = tray;
}

void DesktopUiPort::messageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kTitle, toQt(text), QMessageBox::Ok, m_mainWindow);
  box.exec();
}

std::optional<std::string> DesktopUiPort::chooseFile(const std::string& startFolder) {
  // An open dialog that also takes a new name: the recorder creates the file it is given.
  QFileDialog dialog(m_mainWindow, QString(), pathToQt(startFolder), kFileFilter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
  return pathFromQt(chosen.front());
}

void DesktopUiPort::showMainWindow() {
  if (!m_mainWindow) return;
  m_mainWindow->show();
  m_mainWindow->raise();
  m_mainWindow->activateWindow();
}

void DesktopUiPort::hideMainWindow() {
  if (!m_mainWindow) return;
  // Without a tray nothing could show a hidden window again.
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    m_mainWindow->hide();
  } else {
    m_mainWindow->showMinimized();
  }
}

void DesktopUiPort::showVideoWindow() {
  if (m_videoWindow) m_videoWindow->show();
}

void DesktopUiPort::showFrame(std::string_view jpeg) {
  if (m_videoWindow) {
    m_videoWindow->showFrame(
        QByteArray::fromRawData(jpeg.data(), static_cast<qsizetype>(jpeg.size())));
  }
}

void DesktopUiPort::showNoVideo() {
  if (m_videoWindow) m_videoWindow->showNoVideo();
}

void DesktopUiPort::updateTrayIcon(bool iconOn, const std::string& tooltip) {
  if (m_tray) m_tray->update(iconOn, toQt(tooltip));
}

bool DesktopUiPort::isKeyDown(platform::ArrowKey key) {
  KeyState& state = m_keys[slotOf(key)];
  const bool down = state.down || state.pressedSinceQuery;
  state.pressedSinceQuery = false;
  return down;
}

void DesktopUiPort::exitProcess(int exitCode) {
  if (m_processEnd) {
    m_processEnd(exitCode);
    return;
  }
  if (QThread::currentThread()->loopLevel() > 0) {
    QCoreApplication::exit(exitCode);
  } else {
    std::exit(exitCode);
  }
}

bool DesktopUiPort::receivedByFocusedVideoWindow(QObject* watched) const {
  if (!m_videoWindow || !m_videoWindow->isActiveWindow()) return false;
  const auto* widget = qobject_cast<const QWidget*>(watched);
  return widget != nullptr && widget->window() == m_videoWindow.data();
}

void DesktopUiPort::releaseAllKeys() {
  m_keys.fill(KeyState{});
}

bool DesktopUiPort::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const auto* keyEvent = static_cast<QKeyEvent*>(event);
      // A key typed into another window (the User box, the tray menu) must never drive the
      // robot once the video window gets the focus.
      if (keyEvent->isAutoRepeat() || !receivedByFocusedVideoWindow(watched)) break;
      if (const auto key = arrowKeyOf(keyEvent->key())) {
        KeyState& state = m_keys[slotOf(*key)];
        if (event->type() == QEvent::KeyPress) {
          state.down = true;
          state.pressedSinceQuery = true;
        } else {
          state.down = false;
        }
      }
      break;
    }
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::ApplicationDeactivate:
      // Any change of the active window starts from no key down: a release that happens
      // elsewhere never reaches the video window. (Which window it is need not be asked: the
      // video window may be half destroyed by then.)
      releaseAllKeys();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace rovalink::ui
