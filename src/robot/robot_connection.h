#pragma once

#include <string_view>

namespace rovalink::robot {

// The connection side that the command procedures call into: the packet send and the
// procedures that belong to the connection rather than to one packet.
class RobotConnection {
 public:
  virtual ~RobotConnection() = default;

  // Makes sure the control connection is up, then sends the packet as one write; drops it
  // silently when the connection cannot be made.
  virtual void SendToRobot(std::string_view packet) = 0;

  // "LoginSequence": login packet, wait for the reply, video on, post-login, middle volume.
  virtual void LoginSequenceRun() = 0;
  // "ConnectedOn": drop every queued command, then the login sequence.
  virtual void ConnectedOn() = 0;
  // "ConnectedOff": what the robot's close event does.
  virtual void ConnectedOff() = 0;
};

}  // namespace rovalink::robot
