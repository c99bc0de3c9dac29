#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "commands/command_dispatcher.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/ui_port.h"

namespace rovalink::video {

// Keys seen down at one keyboard-drive tick.
struct ArrowKeys {
  bool up = false;
  bool down = false;
  bool left = false;
  bool right = false;

  bool any() const { return up || down || left || right; }
};

// The motion for a key combination: diagonals before straight moves, Right before Left, Up
// before Down. Empty when no arrow key is down.
std::string_view PickMotion(const ArrowKeys& keys);

// The video window `spykeeVideo`: shows the latest camera frame and drives the robot with the
// arrow keys while it has the focus.
class VideoWindow {
 public:
  static constexpr int kKeyTimerMs = 100;
  static constexpr int kVideoTimerMs = 5000;
  // A held key repeats its motion on the first tick more than this long after the last one.
  static constexpr double kRepeatAfterSeconds = 0.5;

  VideoWindow(platform::EventLoop& loop, platform::Clock& clock, platform::UiPort& ui,
              commands::CommandDispatcher& dispatcher);
  VideoWindow(const VideoWindow&) = delete;
  VideoWindow& operator=(const VideoWindow&) = delete;

  // Loads and shows the window.
  void Show();

  // Focus changes restart the drive: the first tick with a key down always queues a motion.
  void GotFocus();
  // Stops the drive. A motion still running is stopped, so the robot does not roll on while
  // nobody can see or steer it.
  void LostFocus();

  // Puts a camera frame (a JPEG image) into the picture and switches `VideoTimer` on.
  void ShowFrame(std::string_view jpeg);
  // Replaces the last frame by the "no video" picture: the robot is not logged in.
  void ShowNoVideo();

  platform::Timer& KeyTimer() { return *m_KeyTimer; }
  platform::Timer& VideoTimer() { return *m_VideoTimer; }
  const platform::Timer& KeyTimer() const { return *m_KeyTimer; }
  const platform::Timer& VideoTimer() const { return *m_VideoTimer; }

  bool MovementKeysDown() const { return m_MovementKeysDown; }
  double LastMoveTime() const { return m_LastMoveTime; }
  static constexpr std::string_view Caption() { return "SpykeeVideo"; }

 private:
  void onKeyTimer();
  ArrowKeys readKeys();

  platform::EventLoop& m_loop;
  platform::Clock& m_clock;
  platform::UiPort& m_ui;
  commands::CommandDispatcher& m_dispatcher;
  std::unique_ptr<platform::Timer> m_KeyTimer;
  std::unique_ptr<platform::Timer> m_VideoTimer;

  bool m_MovementKeysDown = false;
  double m_LastMoveTime = 0.0;
  // No motion queued since the drive (re)started: the next one is due whatever the time of
  // day, also in the first half second after midnight.
  bool m_restarted = true;
};

}  // namespace rovalink::video
