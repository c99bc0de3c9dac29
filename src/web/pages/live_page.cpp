#include "web/pages/live_page.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>
#include <utility>

#include "web/pages/ini_snapshot.h"
#include "web/pages/live_assets.h"
#include "web/server/request.h"
#include "web/server/response.h"
#include "web/server/stream.h"
#include "web/server/tcp_server.h"

namespace rovalink::web {
namespace {

constexpr std::string_view kPlain = "text/plain; charset=utf-8";
constexpr std::string_view kHtml = "text/html; charset=utf-8";

// The one-shot commands a browser may send: everything a person presses a
// button for. Motions go through the drive (a motion with no dead-man would
// roll on when the page dies); the login, connection and path-file procedures
// are not the page's business.
struct LiveCommand {
  std::string_view name;
  int minValue = 0;
  int maxValue = -1;  // below minValue: takes no value
};

constexpr std::array kCommands{
    LiveCommand{"MoveStop"},       LiveCommand{"HeadLEDOn"},    LiveCommand{"HeadLEDOff"},
    LiveCommand{"LeftLEDOn"},      LiveCommand{"LeftLEDOff"},   LiveCommand{"RightLEDOn"},
    LiveCommand{"RightLEDOff"},    LiveCommand{"SoundAlarm"},   LiveCommand{"SoundBomb"},
    LiveCommand{"SoundLazer"},     LiveCommand{"SoundLaugh"},   LiveCommand{"SoundEngine"},
    LiveCommand{"SoundRobot"},     LiveCommand{"SoundLove"},    LiveCommand{"SoundCall"},
    LiveCommand{"SoundCamera"},    LiveCommand{"TakePicture"},  LiveCommand{"SetMidVolume"},
    LiveCommand{"Volume", 0, 100}, LiveCommand{"Speed", 1, 99}, LiveCommand{"VideoOn"},
    LiveCommand{"VideoOff"},       LiveCommand{"AudioOn"},      LiveCommand{"AudioOff"},
    LiveCommand{"VOIPOn"},         LiveCommand{"VOIPOff"},      LiveCommand{"TurboOn"},
    LiveCommand{"TurboOff"},       LiveCommand{"Dock"},         LiveCommand{"UnDock"},
    LiveCommand{"StopDock"},
};

std::string framePart(std::string_view jpeg) {
  std::string part;
  part.reserve(jpeg.size() + 96);
  part += "--";
  part += LivePage::kBoundary;
  part += "\r\nContent-Type: image/jpeg\r\nContent-Length: ";
  part += std::to_string(jpeg.size());
  part += "\r\n\r\n";
  part += jpeg;
  part += "\r\n";
  return part;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, ',')) {
    const auto first = item.find_first_not_of(' ');
    const auto last = item.find_last_not_of(' ');
    if (first != std::string::npos) items.push_back(item.substr(first, last - first + 1));
  }
  return items;
}

std::uint64_t parseSeq(const std::string& text) {
  std::uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : 0;
}

void dropClosed(std::vector<std::shared_ptr<Stream>>& streams) {
  std::erase_if(streams, [](const std::shared_ptr<Stream>& s) { return !s || !s->open(); });
}

}  // namespace

LivePage::LivePage(Wiring wiring)
    : m_loop(wiring.loop),
      m_settings(wiring.settings),
      m_hostName(std::move(wiring.hostName)),
      m_queueCommand(std::move(wiring.queueCommand)),
      m_readStatus(std::move(wiring.readStatus)),
      m_drive(m_loop, [this](const std::string& procedure) { m_queueCommand(procedure, {}); }),
      m_fanout(m_loop),
      m_statusTimer(m_loop.createTimer()),
      m_keepAlive(m_loop.createTimer()) {
  m_statusTimer->setInterval(kStatusTickMs);
  m_statusTimer->onTick([this] { statusTick(); });
  m_statusTimer->setEnabled(true);
  m_keepAlive->setInterval(kKeepAliveMs);
  m_keepAlive->onTick([this] {
    // A comment line: proxies keep the connection, and a dead client shows up
    // as a failed write.
    for (const auto& events : std::vector(m_events)) events->write(": keep-alive\n\n");
    dropClosed(m_events);
  });
  m_keepAlive->setEnabled(true);
}

LivePage::~LivePage() {
  Stop();
}

void LivePage::addRoutes(TCPServer& server) {
  auto route = [&](const char* path, void (LivePage::*serve)(Request&, Response&)) {
    server.setRoute(path, [this, serve](Request& request, Response& response) {
      (this->*serve)(request, response);
    });
  };
  server.setRoute("/spykee/live", [this](Request& request, Response& response) {
    servePage(request, response, "live.html", kHtml);
  });
  server.setRoute("/spykee/live/live.css", [this](Request& request, Response& response) {
    servePage(request, response, "live.css", "text/css; charset=utf-8");
  });
  server.setRoute("/spykee/live/live.js", [this](Request& request, Response& response) {
    servePage(request, response, "live.js", "text/javascript; charset=utf-8");
  });
  route("/spykee/live.mjpg", &LivePage::serveStream);
  route("/spykee/live/snapshot.jpg", &LivePage::serveSnapshot);
  route("/spykee/live/events", &LivePage::serveEvents);
  route("/spykee/live/command", &LivePage::serveCommand);
  route("/spykee/live/drive", &LivePage::serveDrive);
}

LiveAccessConfig LivePage::accessConfig() const {
  // One look at the file for the three: every command and drive request reads them.
  const IniSnapshot own(m_settings, m_settings.settingsFilePath("qbtRovalink.ini"));
  LiveAccessConfig config;
  config.user = own.Read("Web", "User");
  config.password = own.Read("Web", "Password");
  config.hosts = splitList(own.Read("Web", "Hosts"));
  config.hostName = m_hostName;
  return config;
}

bool LivePage::admit(Request& request, Response& response, bool changesState) {
  // "POSTx" is the parser's name for a POST whose body came with its head.
  const bool isPost = request.Method() == "POST" || request.Method() == "POSTx";
  if (isPost != changesState) {
    response.Send("405 Method Not Allowed", kPlain, "Method not allowed.\n",
                  changesState ? "Allow: POST\r\n" : "Allow: GET\r\n");
    return false;
  }
  const std::string host = request.Header("Host");
  const std::string origin = request.Header("Origin");
  const std::string referer = request.Header("Referer");
  const std::string authorization = request.Header("Authorization");
  const LiveAccessVerdict verdict = CheckLiveAccess(
      {request.PeerAddress(), host, origin, referer, authorization, changesState}, accessConfig());
  switch (verdict.result) {
    case LiveAccessVerdict::Result::Allowed:
      return true;
    case LiveAccessVerdict::Result::Unauthorized:
      response.Send("401 Unauthorized", kPlain, verdict.reason + "\n",
                    "WWW-Authenticate: Basic realm=\"Spykee\", charset=\"UTF-8\"\r\n");
      return false;
    case LiveAccessVerdict::Result::RemoteOff:
      response.Send("403 Forbidden", kHtml,
                    "<!DOCTYPE html><title>Remote access is off</title><h1>Remote access "
                    "is "
                    "off</h1><p>" +
                        verdict.reason +
                        " For example:</p><pre>[Web]\nUser=spykee\nPassword=a long "
                        "secret</pre>"
                        "<p>This computer itself may always watch and drive.</p>\n");
      return false;
    case LiveAccessVerdict::Result::Forbidden:
      response.Send("403 Forbidden", kPlain, verdict.reason + "\n");
      return false;
    case LiveAccessVerdict::Result::MisdirectedHost:
      response.Send("421 Misdirected Request", kPlain, verdict.reason + "\n");
      return false;
  }
  return false;
}

void LivePage::servePage(Request& request, Response& response, std::string_view asset,
                         std::string_view type) {
  if (!admit(request, response, false)) return;
  const std::optional<std::string_view> bytes = LiveAsset(asset);
  if (!bytes) {
    response.Send("404 Not Found", kPlain, "Not found.\n");
    return;
  }
  response.Send("200 OK", type, *bytes);
}

void LivePage::serveStream(Request& request, Response& response) {
  if (!admit(request, response, false)) return;
  if (m_fanout.size() >= FrameFanout::kMaxViewers) {
    response.Send("503 Service Unavailable", kPlain, "Too many viewers; try again soon.\n",
                  "Retry-After: " + std::to_string(kRetryAfterSeconds) + "\r\n");
    return;
  }
  std::shared_ptr<Stream> stream =
      response.TakeStream("multipart/x-mixed-replace; boundary=" + std::string(kBoundary));
  if (!stream) return;
  const std::weak_ptr<Stream> weak = stream;
  const std::optional<std::uint64_t> id =
      m_fanout.add(FrameFanout::Viewer{[weak](const SharedFrame& part) {
                                         if (const auto s = weak.lock()) s->write(*part);
                                       },
                                       [weak] {
                                         if (const auto s = weak.lock()) s->close();
                                       }});
  if (!id) {
    stream->close();
    return;
  }
  stream->onDrained([this, id = *id] { m_fanout.written(id); });
  stream->onClose([this, id = *id] {
    m_fanout.remove(id);
    dropClosed(m_viewers);
  });
  m_viewers.push_back(stream);
  // A new viewer sees the newest picture at once instead of waiting for the
  // next frame.
  if (m_latest) m_fanout.publish(m_latest);
}

void LivePage::serveSnapshot(Request& request, Response& response) {
  if (!admit(request, response, false)) return;
  if (!m_latest) {
    response.Send("404 Not Found", kPlain, "No frame from the robot yet.\n");
    return;
  }
  // The part holds the frame after its head.
  const std::string_view part = *m_latest;
  const std::size_t start = part.find("\r\n\r\n") + 4;
  response.Send("200 OK", "image/jpeg", part.substr(start, part.size() - start - 2));
}

void LivePage::serveEvents(Request& request, Response& response) {
  if (!admit(request, response, false)) return;
  dropClosed(m_events);
  if (m_events.size() >= kMaxEventViewers) {
    response.Send("503 Service Unavailable", kPlain, "Too many viewers; try again soon.\n",
                  "Retry-After: " + std::to_string(kRetryAfterSeconds) + "\r\n");
    return;
  }
  std::shared_ptr<Stream> stream = response.TakeStream("text/event-stream");
  if (!stream) return;
  if (m_lastJson.empty()) publishStatus();
  stream->write("retry: 2000\n\ndata: " + m_lastJson + "\n\n");
  m_events.push_back(std::move(stream));
}

std::string LivePage::CheckCommand(std::string_view name, std::string_view value,
                                   std::string& parameter) {
  parameter.clear();
  const auto* command = std::find_if(kCommands.begin(), kCommands.end(),
                                     [&](const LiveCommand& c) { return c.name == name; });
  if (command == kCommands.end()) {
    if (name.starts_with("Move")) {
      return "Motions are driven with /spykee/live/drive.";
    }
    return name.empty() ? "No command given." : "Unknown command.";
  }
  if (command->maxValue < command->minValue) return {};
  int number = 0;
  const auto result = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || result.ec != std::errc() || result.ptr != value.data() + value.size() ||
      number < command->minValue || number > command->maxValue) {
    return "The value must be a whole number from " + std::to_string(command->minValue) + " to " +
           std::to_string(command->maxValue) + ".";
  }
  parameter = std::to_string(number);
  return {};
}

void LivePage::serveCommand(Request& request, Response& response) {
  if (!admit(request, response, true)) return;
  const std::string name = request.Form("command");
  std::string parameter;
  const std::string reason = CheckCommand(name, request.Form("value"), parameter);
  if (!reason.empty()) {
    response.Send("400 Bad Request", kPlain, reason + "\n");
    return;
  }
  if (name == "MoveStop") m_drive.stop();
  m_queueCommand(name, parameter);
  response.Send("204 No Content", {}, {});
}

void LivePage::serveDrive(Request& request, Response& response) {
  if (!admit(request, response, true)) return;
  // Without a page id the connection's address stands for the client.
  std::string client = request.Form("client");
  if (client.empty() || client.size() > 64) client = request.PeerAddress();
  const DeadManDrive::Outcome outcome =
      m_drive.drive(client, parseSeq(request.Form("seq")), request.Form("direction"));
  if (outcome == DeadManDrive::Outcome::BadDirection) {
    response.Send("400 Bad Request", kPlain,
                  "direction must be forward, backward, left, right, forward-left, "
                  "forward-right, backward-left, backward-right or stop.\n");
    return;
  }
  response.Send("204 No Content", {}, {});
}

void LivePage::onFrame(std::string_view jpeg) {
  ++m_framesThisTick;
  m_latest = std::make_shared<const std::string>(framePart(jpeg));
  m_fanout.publish(m_latest);
}

void LivePage::onStatusChange() {
  publishStatus();
}

void LivePage::statusTick() {
  m_frameRate = static_cast<int>(m_framesThisTick * 1000 / kStatusTickMs);
  m_framesThisTick = 0;
  publishStatus();
}

void LivePage::publishStatus() {
  if (!m_readStatus) return;
  LiveStatus status = m_readStatus();
  status.frameRate = m_frameRate;
  if (status == m_lastStatus && !m_lastJson.empty()) return;
  m_lastStatus = status;
  m_lastJson = status.ToJson();
  const std::string event = "data: " + m_lastJson + "\n\n";
  for (const auto& events : std::vector(m_events)) events->write(event);
  dropClosed(m_events);
}

void LivePage::Stop() {
  if (m_drive.driving()) m_queueCommand("MoveStop", {});
  m_drive.stop();
  m_statusTimer->setEnabled(false);
  m_keepAlive->setEnabled(false);
  for (const auto& stream : std::vector(m_viewers)) {
    stream->onClose(nullptr);
    stream->onDrained(nullptr);
    stream->close();
  }
  for (const auto& stream : std::vector(m_events)) stream->close();
  m_viewers.clear();
  m_events.clear();
}

}  // namespace rovalink::web
