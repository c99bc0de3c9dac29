#include "web/pages/page_decorations.h"

#include <gtest/gtest.h>

#include "web/web_page_files.h"

namespace rovalink::web {
namespace {

using testing::readFile;
using testing::writeFile;

constexpr const char* kTitle =
    "Rovalink&nbsp;&nbsp;<small><font size='1'></b> V1.2.3</font></small>";

class PageDecorationsTest : public ::testing::Test, public SamplePageApp {
 protected:
  void request(PageClient client) {
    m_decorations.BeginRequest(std::move(client), [this] { ++m_redirects; });
    m_decorations.StartMiscFunctionsASP();
    m_decorations.SecurityCheck();
    m_decorations.StartHeaderASP();
  }

  // The frame around one cell, as the device page builds it.
  std::string page(PageClient client) {
    request(std::move(client));
    return m_decorations.CustomHeader({kTitle, "", "#000000", "x", "StyleNoBody.css"}) +
           m_decorations.FormatCell("cell", "TABLEROWODD", "", "") + m_decorations.CustomFooter();
  }

  std::vector<std::string> eventTypes() const {
    std::vector<std::string> types;
    for (const auto& e : m_services.events) types.push_back(e.first + "|" + e.second);
    return types;
  }

  PageDecorations m_decorations{{m_settings,
                                 m_services,
                                 m_folder.file("html"),
                                 [] { return "06:41"; },
                                 [] { return "17:02"; },
                                 {}}};
  int m_redirects = 0;
};

const PageClient kBrowser{"192.168.1.20", "Mozilla/5.0 (X11; Linux x86_64)", "/spykee", ""};

// The class form of a cell is checked byte for byte by the frame and device list tests.
TEST_F(PageDecorationsTest, FormatCellTurnsTheClassIntoFontAttributesForTouchClients) {
  struct Case {
    const char *cls, *span, *align, *cell;
  };
  const Case cases[] = {
      {"TABLEHEADER", "1", "Center",
       "<td bgcolor=\"#63639C\" colspan=\"1\" align=\"Center\" ><font face=\"Verdana, Arial, "
       "sans-serif\" size=\"2\" color=\"#FFFFFF\"><b>x</b></font></td>"},
      {"TABLEROWEVEN", "", "",
       "<td bgcolor=\"#949494\" ><font face=\"Verdana, Arial, sans-serif\" size=\"2\" "
       "color=\"#000000\">x</font></td>"},
      {"TABLECELLCUSTOM", "", "Left",
       "<td bgcolor=\"#000000\" align=\"Left\" ><font face=\"Verdana, Arial, sans-serif\" "
       "size=\"2\" color=\"#FFFFFF\">x</font></td>"},
  };
  request({"10.0.0.1", "Mozilla/4.0 (Audrey)", "/spykee", ""});
  for (const Case& c : cases) {
    EXPECT_EQ(m_decorations.FormatCell("x", c.cls, c.span, c.align), c.cell) << c.cls;
  }
}

TEST_F(PageDecorationsTest, SecurityComesFromTheConnectionAndTheDatabaseNeverFromClientText) {
  makeDatabase();
  struct Case {
    const char* mode;
    bool database;
    const char *peer, *authUser;
    int level;
    const char* user;
  };
  const Case cases[] = {
      {"Enhanced", true, "127.0.0.1", "", 10, "Admin"},
      {"ENHANCED", true, "192.168.1.60", "", 5, "Kitchen"},
      {"ENHANCED", true, "10.9.9.9", "", 0, "None"},
      {"ENHANCED", true, "x' OR '1'='1", "", 0, "None"},  // bound, not spliced into the query
      {"ENHANCED", false, "127.0.0.1", "", 0, "None"},
      {"BASIC", false, "127.0.0.1", "", 10, "LOCAL"},
      {"BASIC", false, "10.0.0.5", "", 0, "GUEST"},
      {"BASIC", false, "10.0.0.5", "bob", 10, "BOB"},
      {"BASIC", false, "10.0.0.5", "guest", 0, "GUEST"},
      {"BASIC", true, "192.168.1.60", "", 10, "KITCHEN"},
      {"BASIC", true, "192.168.1.99", "", 0, "GUEST"},
      {"none", false, "10.0.0.5", "", 10, "NO SECURITY"},
      {"", false, "10.0.0.5", "", 0, ""},  // no rights left over from the request before
  };
  for (const Case& c : cases) {
    writeSettings(std::string("usesecurity=") + c.mode + "\r\n" +
                  (c.database ? "dbpath=Config/web.db\r\n" : ""));
    request({c.peer, "Mozilla/5.0", "/spykee", c.authUser});
    EXPECT_EQ(m_decorations.SecureLevel(), c.level) << c.mode << " " << c.peer;
    EXPECT_EQ(m_decorations.SecureUser(), c.user) << c.mode << " " << c.peer;
  }
  SqliteDatabase check(m_folder.file("Config/web.db"));
  EXPECT_NE(check.query("SELECT LastSessTime FROM MenuUsers WHERE UserID = 'Admin'", {})[0][0], "");
  EXPECT_EQ(check.query("SELECT LastSessTime FROM MenuUsers WHERE UserID = 'Guest'", {})[0][0], "");
  EXPECT_TRUE(m_services.events.empty());
}

TEST_F(PageDecorationsTest, WithoutDatabaseTheFrameIsBuiltFromFilesAndSettings) {
  writeSettings("usesecurity=NONE\r\nshowhsversion=Yes\r\n");
  std::string html = page(kBrowser);
  EXPECT_EQ(html,
            "<html><head><title>Rovalink V1.2.3</title>"
            "<link rel=\"stylesheet\" type=\"text/css\" href=\"/styleNoBody.css\">"
            "<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\"><meta HTTP-EQUIV=\"Pragma\" "
            "CONTENT=\"no-cache\">[meta]</head><body style=\" background-color: #000000;\">[head]"
            "[links]<div align=\"center\"><strong>" +
                std::string(kTitle) +
                "</strong></div><table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" "
                "width=\"100%\" summary=\"Logo Bar\"><tr class=\"logobar\"></tr></table>"
                "<a name=\"pagecontent\"></a><td class=\"TABLEROWODD\" >cell</td>[tail]"
                "<div class=\"footer\">Version: 1.0.0<br></div></body></html>\r\n");
  // The settings the header needs were written back once.
  EXPECT_EQ(m_settings.GetINISetting("Settings", "strShowLinks", ""), "OldStyle");

  // A missing fragment reads "No File"; a missing tail is left out; without a links file the
  // HomeSeer link bar takes its place; logo bar cells follow settings.ini.
  std::filesystem::remove(m_folder.file("html/head.htm"));
  std::filesystem::remove(m_folder.file("html/tail.htm"));
  std::filesystem::remove(m_folder.file("html/links.htm"));
  writeFile(m_folder.file("Config/settings.ini"),
            "[Settings]\r\nlogoShowSunrise=Yes\r\nlogoShowUsername=1\r\nwebvenabled=1\r\n"
            "gCustomPageFile2=/robots.asp\r\ngCustomPageDesc2=<Robots>\r\n");
  writeFile(m_folder.file("Config/includes.ini"),
            "[Settings]\r\nusePageScroll=1\r\n[PageScroll]\r\nText1=Robot \"home\"\r\n");
  writeFile(m_folder.file("Config/WeatherData.ini"),
            "[WeatherCom_CurrentData]\r\nTemp=21\r\nReport_City=Lyon\r\n");
  html = page(kBrowser);
  EXPECT_NE(html.find("#000000;\">No File<p><a href=\"/\">Home</a> | "), std::string::npos);
  EXPECT_NE(html.find("<div id=\"pagescroll\" class=\"pagescroll\"></div><script "
                      "type=\"text/javascript\">[scroll wcontent[0]=\"<font "
                      "class='pagescrolltext'>Robot \\x26quot;home\\x26quot;</font>\";\n"
                      "wcontent[1]=\"<font class='pagescrolltext'>Lyon: 21</font>\";\n]</script>"),
            std::string::npos);
  EXPECT_NE(html.find("Setup</a> |  <a href=\"vmail0\">Messages</a> | <a "
                      "href=\"/html_help/hlp_contents.htm\">Help</a> | <a "
                      "href=\"/robots.asp\">&lt;Robots&gt;</a>| <a href=\"/logo\">Log Out</a></p>"),
            std::string::npos);
  EXPECT_NE(html.find("<tr class=\"logobar\"><td nowrap><b>Sunrise:</b> 06:41</td><td "
                      "nowrap><b>User:</b> NO SECURITY</td></tr>"),
            std::string::npos);
  EXPECT_NE(html.find("</td><div class=\"footer\">"), std::string::npos);
  EXPECT_TRUE(m_services.events.empty());
}

TEST_F(PageDecorationsTest, TouchClientsGetTheirOwnFilesAndHistoryButtons) {
  for (const PageClient& client :
       {PageClient{"10.0.0.7", "Mozilla/4.0 (compatible; Audrey)", "/spykee", ""},
        PageClient{"10.0.0.8", "Mozilla/5.0 QNX", "/spykee", ""},
        PageClient{"192.168.1.33", "Mozilla/5.0", "/spykee", ""}}) {
    writeSettings("touchscreenips=10.1.1.1, 192.168.1.33\r\naudreyrowstyle=TABLEROWEVEN\r\n");
    const std::string html = page(client);
    EXPECT_TRUE(m_decorations.IsTouchClient()) << client.userAgent;
    EXPECT_EQ(m_decorations.RowStyle(), "TABLEROWEVEN");
    EXPECT_NE(html.find("[meta touch]</head>"), std::string::npos);
    EXPECT_NE(html.find("[head touch][links touch]"), std::string::npos);
    EXPECT_NE(html.find("<br><br><div align=\"center\"><form><input type=button value=\" << \" "
                        "onClick=\"history.back()\"><input type=button value=\"Refresh\" "
                        "onClick=\"history.go(0)\"><input type=button value=\" >> \" "
                        "onClick=\"history.forward()\"></form></div>[tail touch]</body></html>"),
              std::string::npos);
  }
  page({"192.168.1.3", "Mozilla/5.0 (audrey)", "/spykee", ""});  // the words are case-exact
  EXPECT_FALSE(m_decorations.IsTouchClient());
}

TEST_F(PageDecorationsTest, WithDatabaseTheMenusComeFromTheTablesAndARestrictedPageIsRefused) {
  makeDatabase();
  writeSettings("usesecurity=ENHANCED\r\ndbpath=Config/web.db\r\nuseslideinmenu=Yes\r\n");
  writeFile(m_folder.file("Config/includes.ini"), "[Settings]\r\nlogpagehits=1\r\n");
  std::string html = page({"127.0.0.1", "Mozilla/5.0", "/spykee", ""});
  EXPECT_NE(html.find("[ssm YOffset=120;XOffset=0;staticYOffset=30;slideSpeed=0;waitTime=1000;"
                      "menuIsStatic=\"yes\";menuWidth=160;menuCols=2;barLink=\"/spykee\";"
                      "barText=\"Menu\";barWidth=20;linkOverBGColor=\"#FFFF99\";"
                      "linkBGColor=\"white\";linkTarget=\"_top\"; "
                      "ssmItems[0]=[\"Rovalink\"];\nssmItems[1]=[\"Robots\", \"/spykee\", \"\"];\n"
                      "ssmItems[2]=[\"Status\", \"/stat\", \"\"];\n"
                      "ssmItems[3]=[\"HomeSeer\", \"/\", \"\"];\n]"),
            std::string::npos);
  // The footer's menu row: top entries up to the user's level, then the page's own children.
  const std::string button = "<td><input type=\"button\" class=\"linkrowbutton\" value=\"";
  EXPECT_NE(html.find("<table class=\"menurow\"><tr>" + button +
                      "Home\"onClick=\"window.parent."
                      "location.href='/'\"></td>" +
                      button + "Robots\""),
            std::string::npos);
  EXPECT_NE(html.find(button + "Setup\""), std::string::npos);
  EXPECT_NE(html.find(button + "Status\"onClick=\"window.parent.location.href='/stat'\"></td>" +
                      button + "Log\""),
            std::string::npos);
  EXPECT_EQ(eventTypes(), std::vector<std::string>{"Web Log|spykee was accessed by 127.0.0.1 the "
                                                   "user: Admin"});

  // Kitchen (level 5) sees no Setup, and is refused a page that needs level 10: one logged
  // redirect, the page marked so that nothing else is sent.
  m_services.events.clear();
  restrictRobotPage();
  html = page({"192.168.1.60", "Mozilla/5.0", "/spykee", ""});
  EXPECT_EQ(html.find(button + "Setup\""), std::string::npos);
  EXPECT_TRUE(m_decorations.Unauthorized());
  EXPECT_EQ(m_redirects, 1);
  EXPECT_EQ(eventTypes(), (std::vector<std::string>{
                              "Web Log|spykee was accessed by 192.168.1.60 the user: Kitchen",
                              "Unauthorized|Kitchen at 192.168.1.60 attempted to access spykee"}));

  // A database file that is not there: one event for the request, and the page still comes.
  m_services.events.clear();
  std::filesystem::remove(m_folder.file("Config/includes.ini"));
  writeSettings("usesecurity=ENHANCED\r\ndbpath=missing.db\r\n");
  html = page({"127.0.0.1", "Mozilla/5.0", "/spykee", ""});
  EXPECT_NE(html.find("<a name=\"pagecontent\"></a>"), std::string::npos);
  ASSERT_EQ(m_services.events.size(), 1u);
  EXPECT_EQ(m_services.events[0].second, "XSecurityCheck: ");
  EXPECT_EQ(m_decorations.SecureUser(), "None");
}

TEST_F(PageDecorationsTest, StripHtmlDropsTagsAndNonBreakingSpaces) {
  const std::pair<const char*, const char*> cases[] = {
      {"<b>Robot</b>&nbsp;list", "Robotlist"},
      {"a&NBSP;b&nbspc", "abc"},
      {"x < y", "x "},
      {"plain", "plain"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(m_decorations.StripHTML(in), out) << in;
}

}  // namespace
}  // namespace rovalink::web
