#include "web/pages/device_list_page.h"

#include <algorithm>
#include <exception>

#include "web/pages/html_text.h"
#include "web/server/request.h"
#include "web/server/response.h"

namespace rovalink::web {
namespace {

using settings::kProgramWord;
constexpr const char* kSettingsFile = "qbtRovalink.ini";
constexpr const char* kSettingsSection = "SPYKEE";
constexpr const char* kDefaultSort = "Name";

// One table row: a text per column of the list.
struct Record {
  std::string Online, Name, IP, MAC, Key, IPSort;
  bool controlled = false;

  const std::string& field(std::string_view column) const {
    if (EqualsNoCase(column, "Online")) return Online;
    if (EqualsNoCase(column, "IP")) return IP;
    if (EqualsNoCase(column, "MAC")) return MAC;
    if (EqualsNoCase(column, "Key")) return Key;
    if (EqualsNoCase(column, "IPSort")) return IPSort;
    return Name;
  }
};

}  // namespace

DeviceListPage::DeviceListPage(Wiring wiring)
    : m_settings(wiring.settings),
      m_services(wiring.services),
      m_decorations(wiring.decorations),
      m_robots(wiring.robots),
      m_controlledRobot(std::move(wiring.controlledRobot)) {}

std::string DeviceListPage::RemotePage(Request& request, Response& response) {
  try {
    m_PageRequest = &request;
    m_PageResponse = &response;
    m_decorations.BeginRequest(
        PageClient{request.PeerAddress(), request.ServerVariables("http_user_agent"),
                   request.page(), request.ServerVariables("auth_user")},
        [&response] { response.Redirect({}); });
    m_decorations.StartMiscFunctionsASP();
    m_decorations.SecurityCheck();
    m_IsTouchClient = m_decorations.StartHeaderASP();
    m_ListColumns = {"Online", "Name", "IP", "MAC", "Key", "IPSort"};
    m_SortDir = m_settings.GetINISetting(kSettingsSection, "SortDir", "ASC", kSettingsFile);
    if (!request.Form("clientinput").empty()) AcceptRemoteChanges();
    std::string page = MainPage();
    // The unauthorized answer has gone out on this connection; a second answer must not follow.
    if (m_decorations.Unauthorized()) page.clear();
    m_PageRequest = nullptr;
    m_PageResponse = nullptr;
    return page;
  } catch (const std::exception& error) {
    m_services.LogEvent(kProgramWord, "RemotePage", error.what());
    return {};
  }
}

void DeviceListPage::AcceptRemoteChanges() {
  try {
    if (!m_PageRequest->Form("QueryLAN").empty() && m_robots != nullptr) m_robots->Query();
    const auto chosen = std::find_if(
        m_ListColumns.begin(), m_ListColumns.end(),
        [this](const std::string& column) { return !m_PageRequest->Form(column).empty(); });
    if (chosen == m_ListColumns.end()) return;
    if (*chosen != m_CurrentSortColumn) {
      m_CurrentSortColumn = *chosen;
    } else {
      m_SortDir = m_SortDir == "ASC" ? "DESC" : "ASC";
      m_settings.SaveIniSetting(kSettingsSection, "SortDir", m_SortDir, kSettingsFile);
    }
    m_settings.SaveIniSetting(kSettingsSection, "Sort", *chosen, kSettingsFile);
  } catch (const std::exception& error) {
    m_services.LogEvent(kProgramWord, "AcceptRemoteChanges", error.what());
  }
}

std::string DeviceListPage::MainPage() {
  std::string page;
  try {
    const std::string title = "Rovalink&nbsp;&nbsp;<small><font size='1'></b> V" +
                              settings::hs::VersionText() + "</font></small>";
    page += "<html><head>";
    page += m_decorations.CustomHeader({title, "", "#000000", "x", "StyleNoBody.css"});
    page +=
        "<div><center><small><table><tr><form name='exe' method='post'>"
        "<input type='hidden' name='clientinput' value='yes'>";
    for (const char* button : {"<input type='submit' name ='UpdateButton' value='Refresh'>",
                               "<input type='submit' name ='QueryLAN' value='Query LAN'>",
                               "<input type='submit' name ='Save' value='Save Changes'>"}) {
      page += m_decorations.FormatCell(button, "TABLEROWEVEN", "1", "Center");
    }
    page += RemoteASP();
    page += "</form></small></table></center></div>";
    page += m_decorations.CustomFooter();
    page += "</body></html>";
  } catch (const std::exception& error) {
    m_services.LogEvent(kProgramWord, "MainPage", error.what());
  }
  return page;
}

std::string DeviceListPage::RemoteASP() {
  std::string table;
  try {
    table += "<Table width='625' border='5' frame='box'><tr>";
    for (const char* heading : {"R", "Online", "Name", "IP", "MAC"}) {
      const std::string button =
          "<input type='submit' value='" + std::string(heading) + "' name='" + heading + "'>";
      table += m_decorations.FormatCell(button, "TABLEHEADER", "1", "Center");
    }
    table += m_decorations.FormatCell("Control", "TABLEHEADER", "3", "");
    table += "</tr>";
    table += UpdateDisplay();
    table += "</table>";
  } catch (const std::exception& error) {
    m_services.LogEvent(kProgramWord, "RemoteASP", error.what());
  }
  return table;
}

std::string DeviceListPage::UpdateDisplay() {
  std::string rows;
  try {
    std::string sort =
        m_settings.GetINISetting(kSettingsSection, "Sort", kDefaultSort, kSettingsFile);
    if (EqualsNoCase(sort, "IP")) sort = "IPSort";
    const std::string direction = UpperCase(m_SortDir);
    const bool knownField =
        std::any_of(m_ListColumns.begin(), m_ListColumns.end(),
                    [&sort](const std::string& c) { return EqualsNoCase(c, sort); });
    if (!knownField || (direction != "ASC" && direction != "DESC")) {
      // An order the table cannot take: back to the names.
      m_settings.SaveIniSetting(kSettingsSection, "Sort", kDefaultSort, kSettingsFile);
      sort = kDefaultSort;
    }
    const bool descending = direction == "DESC";

    std::vector<Record> records;
    const std::string controlled = m_controlledRobot ? m_controlledRobot() : std::string();
    if (m_robots != nullptr) {
      for (const robot::LanRobotList::Robot& robot : m_robots->Robots()) {
        records.push_back({robot.Online ? "Yes" : "No", robot.Name, robot.IP, robot.MAC, robot.IP,
                           robot.IPSort, !controlled.empty() && robot.IP == controlled});
      }
    }
    std::stable_sort(records.begin(), records.end(),
                     [&sort, descending](const Record& a, const Record& b) {
                       const std::string x = UpperCase(a.field(sort));
                       const std::string y = UpperCase(b.field(sort));
                       return descending ? y < x : x < y;
                     });
    int n = 0;
    for (const Record& record : records) {
      ++n;
      const std::string& style = m_decorations.RowStyle();
      const std::string cls = !style.empty() ? style : n % 2 == 1 ? "TABLEROWODD" : "TABLEROWEVEN";
      rows += "<tr>";
      rows += m_decorations.FormatCell(std::to_string(n), cls, "1", "Center");
      rows += m_decorations.FormatCell(record.Online, cls, "1", "Center");
      rows += m_decorations.FormatCell(HtmlEscape(record.Name), cls, "1", "");
      rows += m_decorations.FormatCell(HtmlEscape(record.IP), cls, "1", "");
      rows += m_decorations.FormatCell(HtmlEscape(record.MAC), cls, "1", "");
      rows += m_decorations.FormatCell(record.controlled ? "connected" : "", cls, "3", "Center");
      rows += "</tr>";
    }
  } catch (const std::exception& error) {
    m_services.LogEvent(kProgramWord, "UpdateDisplay", error.what());
  }
  return rows;
}

}  // namespace rovalink::web
