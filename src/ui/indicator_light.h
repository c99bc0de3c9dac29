#pragma once

#include <QColor>
#include <QFrame>

#include "platform/main_window_model.h"

namespace rovalink::ui {

// A desktop colour value 0x00BBGGRR as Qt's colour.
inline QColor toQColor(platform::Colour colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

// A filled rectangle showing one indicator colour of the main window.
class IndicatorLight : public QFrame {
  Q_OBJECT

 public:
  explicit IndicatorLight(const QString& name, QWidget* parent = nullptr);

  void setColour(platform::Colour colour);
  platform::Colour colour() const { return m_colour; }
  QColor fill() const { return toQColor(m_colour); }

  QSize sizeHint() const override { return {24, 16}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  platform::Colour m_colour = platform::MainWindowModel::kIndicatorOff;
};

}  // namespace rovalink::ui
