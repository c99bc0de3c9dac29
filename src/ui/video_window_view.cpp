#include "ui/video_window_view.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "ui/app_icon.h"

namespace rovalink::ui {
namespace {

// The robot's camera picture size.
constexpr int kFrameWidth = 320;
constexpr int kFrameHeight = 240;

}  // namespace

VideoWindowView::VideoWindowView(video::VideoWindow& window, QWidget* parent)
    : QWidget(parent), m_window(window), m_image1(new QLabel(this)) {
  setObjectName("spykeeVideo");
  const std::string_view caption = video::VideoWindow::Caption();
  setWindowTitle(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
  setWindowIcon(appIcon());
  m_image1->setObjectName("Image1");
  m_image1->setAlignment(Qt::AlignCenter);
  m_image1->setMinimumSize(kFrameWidth, kFrameHeight);
  m_image1->setStyleSheet("background: black;");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_image1);
  setFocusPolicy(Qt::StrongFocus);
  showNoVideo();
}

void VideoWindowView::showNoVideo() {
  QPixmap picture(kFrameWidth, kFrameHeight);
  picture.fill(QColor(48, 48, 48));
  QPainter painter(&picture);
  painter.setPen(QColor(200, 200, 200));
  QFont font = painter.font();
  font.setPointSize(16);
  painter.setFont(font);
  painter.drawText(picture.rect(), Qt::AlignCenter, "no video");
  painter.end();
  m_image1->setPixmap(picture);
  m_noVideo = true;
}

bool VideoWindowView::showFrame(const QByteArray& jpeg) {
  // Decoded in memory: every frame is shown, not only the one written to the frame file.
  QImage picture;
  if (!picture.loadFromData(jpeg, "JPEG")) return false;
  m_image1->setPixmap(QPixmap::fromImage(picture));
  m_noVideo = false;
  m_image1->setVisible(true);
  return true;
}

void VideoWindowView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange) {
    if (isActiveWindow()) {
      m_window.GotFocus();
    } else {
      m_window.LostFocus();
    }
  }
  QWidget::changeEvent(event);
}

}  // namespace rovalink::ui
