#pragma once

#include <QLabel>
#include <QWidget>

#include "video/video_window.h"

namespace rovalink::ui {

// The video window "SpykeeVideo": the latest camera frame; its focus drives the keyboard drive.
class VideoWindowView : public QWidget {
  Q_OBJECT

 public:
  explicit VideoWindowView(video::VideoWindow& window, QWidget* parent = nullptr);

  // Decodes a JPEG image into `Image1`. Bytes that are no picture leave the last one.
  bool showFrame(const QByteArray& jpeg);
  // The "no video" picture: what the window shows until a frame arrives and while the robot
  // is not logged in.
  void showNoVideo();
  bool showsNoVideo() const { return m_noVideo; }

  QLabel& image() { return *m_image1; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  video::VideoWindow& m_window;
  QLabel* m_image1;
  bool m_noVideo = false;
};

}  // namespace rovalink::ui
