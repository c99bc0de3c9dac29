#include "web/pages/dead_man_drive.h"

#include <algorithm>
#include <array>
#include <utility>

namespace rovalink::web {
namespace {

struct DirectionName {
  std::string_view direction;
  std::string_view motion;
};

constexpr std::array kDirections{
    DirectionName{"stop", "MoveStop"},
    DirectionName{"forward", "MoveForward"},
    DirectionName{"backward", "MoveBackward"},
    DirectionName{"left", "MoveLeft"},
    DirectionName{"right", "MoveRight"},
    DirectionName{"forward-left", "MoveForwardLeft"},
    DirectionName{"forward-right", "MoveForwardRight"},
    DirectionName{"backward-left", "MoveBackwardLeft"},
    DirectionName{"backward-right", "MoveBackwardRight"},
};

constexpr std::string_view kStop = "MoveStop";

}  // namespace

DeadManDrive::DeadManDrive(platform::EventLoop& loop, std::function<void(const std::string&)> queue)
    : m_queue(std::move(queue)), m_deadMan(loop.createTimer()), m_resend(loop.createTimer()) {
  m_deadMan->setInterval(kDeadManMs);
  m_deadMan->setEnabled(false);
  m_deadMan->onTick([this] { deadManExpired(); });
  m_resend->setInterval(kResendMs);
  m_resend->setEnabled(false);
  m_resend->onTick([this] { m_resendDue = true; });
}

std::optional<std::string_view> DeadManDrive::MotionFor(std::string_view direction) {
  for (const DirectionName& d : kDirections) {
    if (d.direction == direction) return d.motion;
  }
  return std::nullopt;
}

DeadManDrive::Outcome DeadManDrive::drive(const std::string& client, std::uint64_t seq,
                                          std::string_view direction) {
  const std::optional<std::string_view> motion = MotionFor(direction);
  if (!motion) return Outcome::BadDirection;
  if (*motion == kStop) {
    // Never stale: stopping is safe whatever overtook it.
    fresh(client, seq);
    stop();
    // A stop is always sent, even when nothing moved here: another door may have started it.
    m_queue(std::string(kStop));
    return Outcome::Queued;
  }
  if (!fresh(client, seq)) return Outcome::Stale;
  m_driver = client;
  // A running timer keeps its period when enabled again: restart it.
  m_deadMan->setEnabled(false);
  m_deadMan->setEnabled(true);
  if (*motion == m_motion && !m_resendDue) return Outcome::Held;
  m_motion = std::string(*motion);
  m_resendDue = false;
  m_resend->setEnabled(false);
  m_resend->setEnabled(true);
  m_queue(m_motion);
  return Outcome::Queued;
}

void DeadManDrive::stop() {
  m_driver.clear();
  m_motion.clear();
  m_resendDue = false;
  m_deadMan->setEnabled(false);
  m_resend->setEnabled(false);
}

void DeadManDrive::deadManExpired() {
  stop();
  m_queue(std::string(kStop));
}

bool DeadManDrive::fresh(const std::string& client, std::uint64_t seq) {
  if (seq == 0) return true;
  const auto known =
      std::find_if(m_seen.begin(), m_seen.end(), [&](const Seen& s) { return s.client == client; });
  if (known != m_seen.end()) {
    if (seq <= known->seq) return false;
    known->seq = seq;
    return true;
  }
  if (m_seen.size() >= kMaxClients) m_seen.pop_front();
  m_seen.push_back(Seen{client, seq});
  return true;
}

}  // namespace rovalink::web
