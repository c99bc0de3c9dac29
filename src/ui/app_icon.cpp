#include "ui/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace rovalink::ui {

QIcon appIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // A small robot: body, two tracks and a camera eye.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(40, 40, 40));
  painter.drawRoundedRect(3, 22, 26, 7, 3, 3);
  painter.setBrush(QColor(0, 120, 215));
  painter.drawRoundedRect(7, 6, 18, 16, 4, 4);
  painter.setBrush(Qt::white);
  painter.drawEllipse(QPointF(16, 13), 4.5, 4.5);
  painter.setBrush(QColor(20, 20, 20));
  painter.drawEllipse(QPointF(16, 13), 2.2, 2.2);
  painter.end();
  return QIcon(pixmap);
}

}  // namespace rovalink::ui
