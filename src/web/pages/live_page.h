#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"
#include "settings/hs.h"
#include "web/pages/dead_man_drive.h"
#include "web/pages/frame_fanout.h"
#include "web/pages/live_access.h"
#include "web/pages/live_status.h"

namespace rovalink::web {

class Request;
class Response;
class Stream;
class TCPServer;

// The live page: the robot's frames as an MJPEG stream and a snapshot, its
// status as an event stream, and hold-to-drive and one-shot commands from a
// browser. Every action goes into the one command queue at once.
class LivePage {
 public:
  static constexpr std::string_view kBoundary = "rovalinkframe";
  static constexpr std::size_t kMaxEventViewers = 16;
  static constexpr int kStatusTickMs = 1000;
  static constexpr int kKeepAliveMs = 15000;
  static constexpr int kRetryAfterSeconds = 5;

  struct Wiring {
    platform::EventLoop& loop;
    settings::hs& settings;  // [Web] User, Password, Hosts
    std::string hostName;    // this computer's name
    // Queues a robot command (procedure, parameter) for the dispatcher.
    std::function<void(const std::string&, const std::string&)> queueCommand;
    std::function<LiveStatus()> readStatus;
  };

  explicit LivePage(Wiring wiring);
  ~LivePage();
  LivePage(const LivePage&) = delete;
  LivePage& operator=(const LivePage&) = delete;

  // Adds the page's paths to the listener.
  void addRoutes(TCPServer& server);

  // Every complete robot frame (a JPEG image), as received.
  void onFrame(std::string_view jpeg);
  // Something the page shows may have changed (a status report).
  void onStatusChange();
  // Stops a motion started from a browser and ends the streams (shutdown).
  void Stop();

  // The one-shot commands a page may send, by procedure name; Volume and Speed
  // take "value". Returns an empty text when accepted (procedure and parameter
  // filled), else the reason.
  static std::string CheckCommand(std::string_view name, std::string_view value,
                                  std::string& parameter);

  std::size_t viewerCount() const { return m_fanout.size(); }
  std::size_t eventViewerCount() const { return m_events.size(); }

 private:
  bool admit(Request& request, Response& response, bool changesState);
  LiveAccessConfig accessConfig() const;
  void servePage(Request& request, Response& response, std::string_view asset,
                 std::string_view type);
  void serveStream(Request& request, Response& response);
  void serveSnapshot(Request& request, Response& response);
  void serveEvents(Request& request, Response& response);
  void serveCommand(Request& request, Response& response);
  void serveDrive(Request& request, Response& response);
  void statusTick();
  void publishStatus();

  platform::EventLoop& m_loop;
  settings::hs& m_settings;
  std::string m_hostName;
  std::function<void(const std::string&, const std::string&)> m_queueCommand;
  std::function<LiveStatus()> m_readStatus;

  DeadManDrive m_drive;
  FrameFanout m_fanout;
  SharedFrame m_latest;  // the newest frame as received (the snapshot)
  std::vector<std::shared_ptr<Stream>> m_viewers;
  std::vector<std::shared_ptr<Stream>> m_events;
  std::unique_ptr<platform::Timer> m_statusTimer;
  std::unique_ptr<platform::Timer> m_keepAlive;
  std::uint32_t m_framesThisTick = 0;
  int m_frameRate = 0;
  LiveStatus m_lastStatus;
  std::string m_lastJson;
};

}  // namespace rovalink::web
