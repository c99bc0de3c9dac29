#include "ui/indicator_light.h"

#include <QPainter>

namespace rovalink::ui {

IndicatorLight::IndicatorLight(const QString& name, QWidget* parent) : QFrame(parent) {
  setObjectName(name);
  setFrameShape(QFrame::Box);
  setMinimumSize(24, 16);
}

void IndicatorLight::setColour(platform::Colour colour) {
  if (colour == m_colour) return;
  m_colour = colour;
  update();
}

void IndicatorLight::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.fillRect(rect(), fill());
  }
  QFrame::paintEvent(event);
}

}  // namespace rovalink::ui
