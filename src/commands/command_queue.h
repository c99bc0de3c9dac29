#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "commands/command.h"

namespace rovalink::commands {

// The one ordered queue of robot commands: appended at the end, taken from the front.
// "Replacing the queue by a new empty one" is Replace(); the generation lets the dispatcher
// tell that the command it took is no longer in the current queue.
class CommandQueue {
 public:
  // What the doors (bus, MQTT, page, window, keys) may have waiting: a flood is refused beyond
  // this instead of growing memory and the robot's backlog. A path run brings its own bound.
  static constexpr std::size_t kMaxDoorCommands = 10000;
  static constexpr std::size_t kMaxDoorBytes = 4 * 1024 * 1024;

  void append(Command command) {
    count(command, +1);
    m_commands.push_back(std::move(command));
  }
  // Appends a command from a door unless the doors' bound is reached; false when refused.
  bool admit(Command command) {
    if (m_doorCommands >= kMaxDoorCommands || m_doorBytes + cost(command) > kMaxDoorBytes) {
      return false;
    }
    append(std::move(command));
    return true;
  }
  std::size_t doorCommands() const { return m_doorCommands; }
  std::size_t doorBytes() const { return m_doorBytes; }
  bool empty() const { return m_commands.empty(); }
  std::size_t size() const { return m_commands.size(); }
  const Command& front() const { return m_commands.front(); }
  const std::deque<Command>& commands() const { return m_commands; }

  // Drops every waiting command, as if a new empty queue had taken this one's place.
  void Replace() {
    m_commands.clear();
    m_doorCommands = 0;
    m_doorBytes = 0;
    ++m_generation;
  }

  // Removes every command that matches; returns how many. Taking the front away counts as a
  // new queue, so the dispatcher does not remove another command in its place.
  template <class Predicate>
  std::size_t removeIf(Predicate matches) {
    if (m_commands.empty()) return 0;
    const bool frontGoes = matches(m_commands.front());
    const auto end = std::remove_if(m_commands.begin(), m_commands.end(), matches);
    const auto removed = static_cast<std::size_t>(m_commands.end() - end);
    // remove_if leaves the removed elements in an unspecified state: recount the kept ones.
    m_doorCommands = 0;
    m_doorBytes = 0;
    std::for_each(m_commands.begin(), end, [this](const Command& c) { count(c, +1); });
    m_commands.erase(end, m_commands.end());
    if (frontGoes) ++m_generation;
    return removed;
  }
  template <class Predicate>
  bool removeFirst(Predicate matches) {
    const auto found = std::find_if(m_commands.begin(), m_commands.end(), matches);
    if (found == m_commands.end()) return false;
    if (found == m_commands.begin()) ++m_generation;
    count(*found, -1);
    m_commands.erase(found);
    return true;
  }
  // Inserts a command at position index (at most size()).
  void insert(std::size_t index, Command command) {
    count(command, +1);
    m_commands.insert(m_commands.begin() + static_cast<std::ptrdiff_t>(index), std::move(command));
  }

  std::uint64_t generation() const { return m_generation; }

  // Removes the front command; only the dispatcher calls this.
  void removeFront() {
    count(m_commands.front(), -1);
    m_commands.pop_front();
  }

 private:
  // Memory a queued command holds, roughly: the record and its texts.
  static std::size_t cost(const Command& c) {
    return sizeof(Command) + c.Procedure.size() + c.Parameter.size();
  }
  void count(const Command& c, int sign) {
    if (c.fromPath) return;
    if (sign > 0) {
      ++m_doorCommands;
      m_doorBytes += cost(c);
    } else {
      --m_doorCommands;
      m_doorBytes -= cost(c);
    }
  }

  std::deque<Command> m_commands;
  std::uint64_t m_generation = 0;
  std::size_t m_doorCommands = 0;
  std::size_t m_doorBytes = 0;
};

}  // namespace rovalink::commands
