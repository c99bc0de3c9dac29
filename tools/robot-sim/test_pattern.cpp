#include "test_pattern.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

namespace robotsim {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Seven-segment digits drawn with rectangles, so no font database (and no QGuiApplication)
// is needed. Segments a..g as bits 0..6.
constexpr unsigned char kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                         0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void drawDigit(QPainter& painter, int x, int y, int digit, const QColor& colour) {
  const int w = 18;
  const int h = 32;
  const int t = 4;
  const QRect segments[7] = {
      {x, y, w, t},                      // a
      {x + w - t, y, t, h / 2},          // b
      {x + w - t, y + h / 2, t, h / 2},  // c
      {x, y + h - t, w, t},              // d
      {x, y + h / 2, t, h / 2},          // e
      {x, y, t, h / 2},                  // f
      {x, y + h / 2 - t / 2, w, t},      // g
  };
  for (int s = 0; s < 7; ++s) {
    if (kSegments[digit] & (1u << s)) painter.fillRect(segments[s], colour);
  }
}

}  // namespace

QByteArray renderTestFrame(quint32 frameNumber, int quality) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter painter(&image);

  const int bars = 8;
  for (int i = 0; i < bars; ++i) {
    const int hue = static_cast<int>((i * 45 + frameNumber * 3) % 360);
    painter.fillRect(i * kWidth / bars, 0, kWidth / bars + 1, kHeight,
                     QColor::fromHsv(hue, 200, 220));
  }
  // A box that sweeps across the picture, so motion is visible.
  const int span = kWidth - 60;
  const int position = static_cast<int>(frameNumber * 6 % (2 * span));
  const int boxX = position < span ? position : 2 * span - position;
  painter.fillRect(boxX, 150, 60, 60, Qt::white);
  painter.fillRect(boxX + 20, 170, 20, 20, Qt::black);

  painter.fillRect(8, 8, 8 * 24 + 8, 48, Qt::black);
  quint32 value = frameNumber;
  for (int i = 7; i >= 0; --i) {
    drawDigit(painter, 14 + i * 24, 16, static_cast<int>(value % 10), Qt::green);
    value /= 10;
  }
  painter.end();

  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(quality);
  if (!writer.write(image)) return {};
  return jpeg;
}

}  // namespace robotsim
