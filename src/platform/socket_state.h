#pragma once

namespace rovalink::platform {

// Socket states as the classic socket control numbers them; code compares against the numbers.
enum class SocketState : int {
  Closed = 0,
  Open = 1,
  Listening = 2,
  ConnectionPending = 3,
  ResolvingHost = 4,
  HostResolved = 5,
  Connecting = 6,
  Connected = 7,
  Closing = 8,
  Error = 9,
};

}  // namespace rovalink::platform
