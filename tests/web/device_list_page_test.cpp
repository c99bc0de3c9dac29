#include "web/pages/device_list_page.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"
#include "web/server/request.h"
#include "web/server/response.h"
#include "web/server/tcp_server.h"
#include "web/web_page_files.h"

namespace rovalink::web {
namespace {

using testing::writeFile;

class DeviceListPageTest : public ::testing::Test, public SamplePageApp {
 protected:
  DeviceListPageTest() {
    writeFile(m_folder.file("Config/qbtRovalink.ini"),
              "[SPYKEE]\r\nDiscoveryAddress=10.0.0.255\r\n");
  }

  // A robot on the simulated LAN that answers discovery with its name.
  void robot(const std::string& address, const std::string& name) {
    auto& socket = m_robots.emplace_back(m_sim.createUdpSocket());
    socket->bind(address, 9000);
    platform::UdpSocket* raw = socket.get();
    socket->onDatagram([raw, name](const platform::Datagram& d) {
      raw->sendTo(d.senderAddress, d.senderPort, std::string("DSCV\x02", 5) + name);
    });
  }

  std::string get(const std::string& body = {}, const std::string& peer = "10.0.0.5",
                  const std::string& headers = {}) {
    Request request;
    request.ParsePage((body.empty() ? "GET" : "POST") + std::string(" /spykee HTTP/1.1\r\n") +
                      headers + "\r\n" + body);
    request.setPeer(peer, 50000);
    Response response(m_server);
    return m_page.RemotePage(request, response);
  }

  std::string setting(const char* key) {
    return m_settings.GetINISetting("SPYKEE", key, "(none)", "qbtRovalink.ini");
  }

  // The names in the order the page lists them.
  static std::vector<std::string> order(const std::string& page) {
    std::vector<std::pair<std::size_t, std::string>> found;
    for (const char* name : {"alpha", "Bravo", "Charlie"}) {
      const auto at = page.find(std::string(">") + name);
      if (at != std::string::npos) found.emplace_back(at, name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& [at, name] : found) names.push_back(name);
    return names;
  }

  platform::SimPlatform m_sim;
  TCPServer m_server{{m_sim, m_settings, m_services}};
  PageDecorations m_decorations{{m_settings, m_services, m_folder.file("html"), {}, {}, {}}};
  robot::LanRobotList m_lan{m_sim, m_settings};
  DeviceListPage m_page{{m_settings, m_services, m_decorations, &m_lan, [] { return "10.0.0.9"; }}};
  std::vector<std::unique_ptr<platform::UdpSocket>> m_robots;
};

TEST_F(DeviceListPageTest, APlainGetShowsTheFramedFormWithTheHeadingRowOnly) {
  const std::string page = get();
  const std::string cell = "<td class=\"TABLEROWEVEN\" colspan=\"1\" align=\"Center\" >";
  const std::string heading = "<td class=\"TABLEHEADER\" colspan=\"1\" align=\"Center\" >";
  EXPECT_EQ(page.rfind("<html><head><html><head><title>Rovalink V", 0), 0u);
  EXPECT_NE(
      page.find("<a name=\"pagecontent\"></a><div><center><small><table><tr><form name='exe' "
                "method='post'><input type='hidden' name='clientinput' value='yes'>" +
                cell + "<input type='submit' name ='UpdateButton' value='Refresh'></td>" + cell +
                "<input type='submit' name ='QueryLAN' value='Query LAN'></td>" + cell +
                "<input type='submit' name ='Save' value='Save Changes'></td>"
                "<Table width='625' border='5' frame='box'><tr>" +
                heading + "<input type='submit' value='R' name='R'></td>" + heading +
                "<input type='submit' value='Online' name='Online'></td>" + heading +
                "<input type='submit' value='Name' name='Name'></td>" + heading +
                "<input type='submit' value='IP' name='IP'></td>" + heading +
                "<input type='submit' value='MAC' name='MAC'></td>"
                "<td class=\"TABLEHEADER\" colspan=\"3\" >Control</td></tr></table>"
                "</form></small></table></center></div>[tail]</body></html>\r\n"
                "</body></html>"),
      std::string::npos);
  EXPECT_TRUE(m_services.events.empty());
}

TEST_F(DeviceListPageTest, QueryLanFillsTheRowsAndHeadingClicksSortThemAndAreRemembered) {
  robot("10.0.0.10", "alpha");
  robot("10.0.0.9", "Bravo");
  robot("10.0.0.100", "Charlie<i>");

  // The page answers at once; the answers are shown by the next page.
  EXPECT_TRUE(order(get("clientinput=yes&QueryLAN=Query+LAN")).empty());
  m_sim.runUntil([] { return false; }, 100);
  std::string page = get("clientinput=yes&UpdateButton=Refresh");
  EXPECT_EQ(order(page), (std::vector<std::string>{"alpha", "Bravo", "Charlie"}));
  const std::string odd = "<td class=\"TABLEROWODD\" colspan=\"1\" ";
  EXPECT_NE(
      page.find("<tr>" + odd + "align=\"Center\" >1</td>" + odd + "align=\"Center\" >Yes</td>" +
                odd + ">alpha</td>" + odd + ">10.0.0.10</td>" + odd +
                "></td>"
                "<td class=\"TABLEROWODD\" colspan=\"3\" align=\"Center\" ></td></tr>"),
      std::string::npos);
  EXPECT_NE(page.find(">Bravo</td><td class=\"TABLEROWEVEN\" colspan=\"1\" >10.0.0.9</td><td "
                      "class=\"TABLEROWEVEN\" colspan=\"1\" ></td><td class=\"TABLEROWEVEN\" "
                      "colspan=\"3\" align=\"Center\" >connected</td>"),
            std::string::npos);
  EXPECT_NE(page.find(">Charlie&lt;i&gt;</td>"), std::string::npos);

  struct Step {
    const char* body;
    const char *sort, *dir;
    std::vector<std::string> rows;
  };
  const Step steps[] = {
      {"clientinput=yes&Name=Name", "Name", "(none)", {"alpha", "Bravo", "Charlie"}},
      {"clientinput=yes&Name=Name", "Name", "DESC", {"Charlie", "Bravo", "alpha"}},
      {"clientinput=yes&IP=IP", "IP", "DESC", {"Charlie", "alpha", "Bravo"}},  // numeric order
      {"clientinput=yes&IP=IP", "IP", "ASC", {"Bravo", "alpha", "Charlie"}},
      {"Name=Name", "IP", "ASC", {"Bravo", "alpha", "Charlie"}},  // not the page's own form
      {"clientinput=yes&R=R&Save=Save+Changes", "IP", "ASC", {"Bravo", "alpha", "Charlie"}},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(order(get(step.body)), step.rows) << step.body;
    EXPECT_EQ(setting("Sort"), step.sort) << step.body;
    EXPECT_EQ(setting("SortDir"), step.dir) << step.body;
  }
  // A field the table does not have is put back to Name.
  m_settings.SaveIniSetting("SPYKEE", "Sort", "Color", "qbtRovalink.ini");
  EXPECT_EQ(order(get()), (std::vector<std::string>{"alpha", "Bravo", "Charlie"}));
  EXPECT_EQ(setting("Sort"), "Name");
}

TEST_F(DeviceListPageTest, TheClientIsTheConnectionsPeerWhateverItsHeadersSay) {
  writeSettings("usesecurity=BASIC\r\ntouchscreenips=10.0.0.7\r\n");
  writeFile(m_folder.file("Config/settings.ini"), "[Settings]\r\nlogoShowUsername=Yes\r\n");
  const std::string spoof = "Host: 127.0.0.1\r\nAUTH_USER: admin\r\nX-Forwarded-For: 10.0.0.7\r\n";
  const std::string spoofed = get("", "10.0.0.5", spoof);
  EXPECT_NE(spoofed.find("<b>User:</b> GUEST<"), std::string::npos);
  EXPECT_EQ(spoofed.find("[head touch]"), std::string::npos);
  EXPECT_NE(get("", "127.0.0.1").find("<b>User:</b> LOCAL<"), std::string::npos);
  EXPECT_NE(get("", "10.0.0.7").find("[head touch]"), std::string::npos);

  // A page the client may not see: the unauthorized answer goes out, and no page after it.
  makeDatabase();
  restrictRobotPage();
  writeSettings("usesecurity=ENHANCED\r\ndbpath=Config/web.db\r\n");
  EXPECT_EQ(get("", "192.168.1.60"), "");
  EXPECT_EQ(m_services.events.front().first, "Unauthorized");
  EXPECT_NE(get("", "127.0.0.1"), "");
}

}  // namespace
}  // namespace rovalink::web
