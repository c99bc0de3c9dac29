#pragma once

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
  void append(Command command) { m_commands.push_back(std::move(command)); }
  bool empty() const { return m_commands.empty(); }
  std::size_t size() const { return m_commands.size(); }
  const Command& front() const { return m_commands.front(); }
  const std::deque<Command>& commands() const { return m_commands; }

  // Drops every waiting command, as if a new empty queue had taken this one's place.
  void Replace() {
    m_commands.clear();
    ++m_generation;
  }

  std::uint64_t generation() const { return m_generation; }

  // Removes the front command; only the dispatcher calls this.
  void removeFront() { m_commands.pop_front(); }

 private:
  std::deque<Command> m_commands;
  std::uint64_t m_generation = 0;
};

}  // namespace rovalink::commands
