#include "video/video_window.h"

#include <array>
#include <utility>

#include "commands/time_of_day.h"

namespace rovalink::video {
namespace {

struct MotionRule {
  ArrowKeys keys;  // the keys that must be down; the others do not matter
  std::string_view procedure;
};

// First match wins.
constexpr std::array<MotionRule, 8> kMotionRules{{
    {{.up = true, .right = true}, "MoveForwardRight"},
    {{.down = true, .right = true}, "MoveBackwardRight"},
    {{.up = true, .left = true}, "MoveForwardLeft"},
    {{.down = true, .left = true}, "MoveBackwardLeft"},
    {{.up = true}, "MoveForward"},
    {{.down = true}, "MoveBackward"},
    {{.right = true}, "MoveRight"},
    {{.left = true}, "MoveLeft"},
}};

bool covers(const ArrowKeys& down, const ArrowKeys& wanted) {
  return (!wanted.up || down.up) && (!wanted.down || down.down) && (!wanted.left || down.left) &&
         (!wanted.right || down.right);
}

}  // namespace

std::string_view PickMotion(const ArrowKeys& keys) {
  for (const MotionRule& rule : kMotionRules) {
    if (covers(keys, rule.keys)) return rule.procedure;
  }
  return {};
}

VideoWindow::VideoWindow(platform::EventLoop& loop, platform::Clock& clock, platform::UiPort& ui,
                         commands::CommandDispatcher& dispatcher)
    : m_loop(loop),
      m_clock(clock),
      m_ui(ui),
      m_dispatcher(dispatcher),
      m_KeyTimer(loop.createTimer()),
      m_VideoTimer(loop.createTimer()) {
  m_KeyTimer->setEnabled(false);
  m_KeyTimer->setInterval(kKeyTimerMs);
  m_KeyTimer->onTick([this] { onKeyTimer(); });
  // VideoTimer only tells that a frame was shown recently; its tick does nothing.
  m_VideoTimer->setEnabled(false);
  m_VideoTimer->setInterval(kVideoTimerMs);
}

void VideoWindow::Show() {
  m_ui.showVideoWindow();
}

void VideoWindow::GotFocus() {
  m_MovementKeysDown = false;
  m_LastMoveTime = 0.0;
  m_restarted = true;
  m_KeyTimer->setEnabled(true);
}

void VideoWindow::LostFocus() {
  m_KeyTimer->setEnabled(false);
  if (m_MovementKeysDown) {
    m_MovementKeysDown = false;
    m_dispatcher.QueueTimedCommand("MoveStop");
  }
}

void VideoWindow::ShowNoVideo() {
  m_ui.showNoVideo();
  m_VideoTimer->setEnabled(false);
}

void VideoWindow::ShowFrame(std::string_view jpeg) {
  m_ui.showFrame(jpeg);
  m_VideoTimer->setEnabled(true);
}

ArrowKeys VideoWindow::readKeys() {
  ArrowKeys keys;
  // Every key is asked at every tick, so a tap is consumed even when another key wins.
  keys.up = m_ui.isKeyDown(platform::ArrowKey::Up);
  keys.down = m_ui.isKeyDown(platform::ArrowKey::Down);
  keys.left = m_ui.isKeyDown(platform::ArrowKey::Left);
  keys.right = m_ui.isKeyDown(platform::ArrowKey::Right);
  return keys;
}

void VideoWindow::onKeyTimer() {
  const double now = m_clock.timeOfDay();
  // Elapsed time across midnight counts the wrap, or a key held then would never repeat.
  const bool due = m_restarted || commands::ElapsedSince(now, m_LastMoveTime) > kRepeatAfterSeconds;
  const ArrowKeys keys = readKeys();

  if (due) {
    const std::string_view motion = PickMotion(keys);
    if (!motion.empty()) m_dispatcher.QueueTimedCommand(std::string(motion));
  }
  if (keys.any()) {
    if (due) {
      m_LastMoveTime = now;
      m_restarted = false;
    }
    m_MovementKeysDown = true;
  } else if (m_MovementKeysDown) {
    m_dispatcher.QueueTimedCommand("MoveStop");
    m_MovementKeysDown = false;
  }
  m_loop.pumpOnce();
}

}  // namespace rovalink::video
