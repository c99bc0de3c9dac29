#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/event_loop.h"

namespace rovalink::web {

// Hold-to-drive for browsers. A page repeats its direction while a button or key is held; the
// robot stops when the driving client falls silent (closed tab, lost phone connection, frozen
// page), because nobody may be watching any more. The last client to drive is the driver; a stop
// from any client stops at once.
class DeadManDrive {
 public:
  // A held direction is repeated at least this often by the page.
  static constexpr int kRepeatMs = 250;
  // Silence from the driver for this long stops the robot.
  static constexpr int kDeadManMs = 600;
  // A held motion is sent to the robot again this often, as the keyboard drive does.
  static constexpr int kResendMs = 500;
  // Clients whose last sequence number is remembered.
  static constexpr std::size_t kMaxClients = 64;

  enum class Outcome { Queued, Held, Stale, BadDirection };

  // queue: puts a procedure name ("MoveForward", "MoveStop", ...) into the command queue.
  DeadManDrive(platform::EventLoop& loop, std::function<void(const std::string&)> queue);

  // The motion procedure for a direction word ("forward", "backward-left", "stop", ...), or
  // nothing for another word.
  static std::optional<std::string_view> MotionFor(std::string_view direction);

  // One drive request. client names the page instance; seq rises with every request it sends,
  // so a move overtaken on the network by a later request (a move arriving after its own stop)
  // is Stale and changes nothing. A stop is never stale. seq 0 is not checked.
  Outcome drive(const std::string& client, std::uint64_t seq, std::string_view direction);

  // Stops a motion started here, e.g. at shutdown.
  void stop();

  bool driving() const { return !m_driver.empty(); }
  const std::string& driver() const { return m_driver; }

 private:
  void deadManExpired();
  bool fresh(const std::string& client, std::uint64_t seq);

  std::function<void(const std::string&)> m_queue;
  std::unique_ptr<platform::Timer> m_deadMan;
  std::unique_ptr<platform::Timer> m_resend;
  std::string m_driver;
  std::string m_motion;
  bool m_resendDue = false;
  struct Seen {
    std::string client;
    std::uint64_t seq = 0;
  };
  std::deque<Seen> m_seen;
};

}  // namespace rovalink::web
