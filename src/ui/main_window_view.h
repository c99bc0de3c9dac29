#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <array>
#include <map>
#include <string>

#include "app/main_window.h"
#include "ui/indicator_light.h"

namespace rovalink::ui {

// The main window `Rovalink`: shows the main window's state and forwards every click and edit
// to it. Controls carry their system names as object names ("aConnect", "aHeadStatus", ...).
class MainWindowView : public QWidget {
  Q_OBJECT

 public:
  // How often the view copies the window's state onto the screen.
  static constexpr int kRefreshMs = 50;

  explicit MainWindowView(app::MainWindow& window, QWidget* parent = nullptr);

  // Copies captions, colours and box texts from the window's state.
  void refresh();

  IndicatorLight* indicator(const QString& name) const;
  QPushButton* button(const QString& name) const;

 protected:
  // Closing only hides the window, unless "Exit" asked for the unload.
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* makeButton(const QString& name, const QString& caption);
  IndicatorLight* makeIndicator(const QString& name);

  app::MainWindow& m_window;
  QTimer m_refreshTimer;
  std::map<QString, QPushButton*> m_buttons;
  std::map<QString, IndicatorLight*> m_indicators;
  QLabel* m_aVideoRate = nullptr;
  QLabel* m_aBattery = nullptr;
  QLineEdit* m_aUsername = nullptr;
  QLineEdit* m_aPassword = nullptr;
  QScrollBar* m_aSpeed = nullptr;
  QPushButton* m_aRecordPath = nullptr;
};

}  // namespace rovalink::ui
