#pragma once

#include <functional>
#include <string>
#include <vector>

#include "robot/lan_robot_list.h"
#include "settings/hs.h"
#include "settings/services.h"
#include "web/pages/page_decorations.h"
#include "web/server/page_handler.h"

namespace rovalink::web {

// The page at /spykee: the robots on the LAN in a table sortable by its headings, with the
// buttons "Refresh", "Query LAN" and "Save Changes", framed by the page decorations. A heading
// chosen twice in a row flips the direction; both are kept in the settings file.
class DeviceListPage : public PageHandler {
 public:
  struct Wiring {
    settings::hs& settings;
    settings::Services& services;  // LogEvent
    PageDecorations& decorations;
    robot::LanRobotList* robots;  // nullptr: no rows
    // The address of the robot on the control connection while it is connected, else empty.
    std::function<std::string()> controlledRobot;
  };

  explicit DeviceListPage(Wiring wiring);

  std::string RemotePage(Request& request, Response& response) override;

  const std::string& CurrentSortColumn() const { return m_CurrentSortColumn; }

 private:
  void AcceptRemoteChanges();
  std::string MainPage();
  std::string RemoteASP();
  std::string UpdateDisplay();

  settings::hs& m_settings;
  settings::Services& m_services;
  PageDecorations& m_decorations;
  robot::LanRobotList* m_robots;
  std::function<std::string()> m_controlledRobot;

  Request* m_PageRequest = nullptr;
  Response* m_PageResponse = nullptr;
  bool m_IsTouchClient = false;
  std::vector<std::string> m_ListColumns;
  std::string m_SortDir = "ASC";
  std::string m_CurrentSortColumn;
};

}  // namespace rovalink::web
