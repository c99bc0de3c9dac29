#include "web/pages/page_decorations.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "settings/text_trim.h"
#include "web/pages/html_text.h"
#include "web/pages/sqlite_database.h"

namespace rovalink::web {
namespace {

namespace fs = std::filesystem;
using settings::kProgramWord;

constexpr const char* kOwnSettingsFile = "qbtRovalink.ini";
constexpr const char* kSettingsSection = "Settings";
constexpr const char* kHsSettingsFile = "settings.ini";
constexpr const char* kIncludesFile = "includes.ini";
constexpr const char* kWeatherFile = "WeatherData.ini";
constexpr const char* kWeatherCurrent = "WeatherCom_CurrentData";
constexpr const char* kWeatherHighLow = "AccuWeather_HighLowData";
constexpr const char* kWeatherForecast = "WeatherCom_ExtForecast";
constexpr const char* kUnauthorizedPage = "unauthorized.asp";
constexpr std::string_view kSsmItemsMark = "(******REPLACE_SSMITEMS******)";
constexpr std::string_view kSsmPrefsMark = "(******REPLACE_SSMPREFS******)";
constexpr std::string_view kPageScrollMark = "(******REPLACE_PAGESCROLL******)";
constexpr int kLinkFileLevels = 10;
constexpr int kPageScrollLines = 10;

struct CellStyle {
  std::string_view cls;
  bool bold;
  std::string_view colour;
  std::string_view background;
};
constexpr CellStyle kCellStyles[] = {
    {"TABLECOLUMN", true, "#FFFFFF", "#31639C"},      {"TABLEHEADER", true, "#FFFFFF", "#63639C"},
    {"TABLEROWODD", false, "#000000", "#C0C0C0"},     {"TABLEROWEVEN", false, "#000000", "#949494"},
    {"TABLECELLCUSTOM", false, "#FFFFFF", "#000000"},
};

void replaceAll(std::string& text, std::string_view mark, std::string_view with) {
  for (std::size_t at = text.find(mark); at != std::string::npos;
       at = text.find(mark, at + with.size())) {
    text.replace(at, mark.size(), with);
  }
}

std::string trimmed(std::string_view text) {
  return std::string(settings::trimmedOf(text, " \t"));
}

bool isNumber(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::string argument(const std::vector<std::string>& arguments, std::size_t position) {
  return position < arguments.size() ? arguments[position] : std::string();
}

// folder/name as the file system library joins a relative name, without its cost on every
// request.
std::string joined(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path += name;
}

// LIKE pattern characters in a value that must match as written.
std::string likeLiteral(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    if (ch == '%' || ch == '_' || ch == '\\') out += '\\';
    out += ch;
  }
  return out;
}

}  // namespace

PageDecorations::PageDecorations(Wiring wiring)
    : m_settings(wiring.settings),
      m_services(wiring.services),
      m_htmlFolder(std::move(wiring.htmlFolder)),
      m_sunriseText(std::move(wiring.sunriseText)),
      m_sunsetText(std::move(wiring.sunsetText)),
      m_openDatabase(std::move(wiring.openDatabase)) {
  if (!m_openDatabase) {
    m_openDatabase = [](const std::string& path) { return std::make_unique<SqliteDatabase>(path); };
  }
}

PageDecorations::~PageDecorations() = default;

void PageDecorations::BeginRequest(PageClient client, std::function<void()> redirectUnauthorized) {
  m_client = std::move(client);
  m_redirectUnauthorized = std::move(redirectUnauthorized);
  m_page = {};
  m_mode = Mode::Unset;
  m_touch = false;
  m_rowStyle.clear();
  m_hsSettings.emplace(m_settings, settingsFile(kHsSettingsFile));
  m_includes.emplace(m_settings, settingsFile(kIncludesFile));
  m_dbFailed = false;
  m_menuChecked = false;
  m_unauthorized = false;
  m_headerRow.clear();
}

void PageDecorations::logFailure(const char* routine, const std::exception& error) {
  m_services.LogEvent(kProgramWord, routine, error.what());
}

std::string PageDecorations::settingsFile(std::string_view name) const {
  return m_settings.settingsFilePath(name);
}

std::string PageDecorations::htmlFile(std::string_view name, std::string_view extension) const {
  std::string file = joined(m_htmlFolder, name);
  if (m_touch) file += "_touchscreen";
  return file += extension;
}

bool PageDecorations::haveDatabase() const {
  return !m_page.dbpath.empty() && !EqualsNoCase(m_page.dbpath, "NA");
}

std::vector<PageDatabase::Row> PageDecorations::rows(const char* routine, std::string_view sql,
                                                     const std::vector<std::string>& params) {
  if (!haveDatabase() || m_dbFailed) return {};
  try {
    fs::path path(m_page.dbpath);
    if (path.is_relative()) path = fs::path(m_settings.GetAppPath()) / path;
    // The connection stays open between requests while the setting names the same file.
    if (!m_db || m_dbPath != path.string()) {
      m_db.reset();
      m_dbPath = path.string();
      m_db = m_openDatabase(m_dbPath);
    }
    return m_db->query(sql, params);
  } catch (const std::exception& error) {
    // One report per request for a database that cannot be opened; a failed query drops the
    // connection, so a replaced file is opened afresh.
    m_dbFailed = !m_db;
    m_db.reset();
    logFailure(routine, error);
    return {};
  }
}

void PageDecorations::StartMiscFunctionsASP() {
  try {
    const IniSnapshot own(m_settings, settingsFile(kOwnSettingsFile));
    auto read = [&own](const char* key) { return own.Read(kSettingsSection, key); };
    m_page.dbpath = read("dbpath");
    m_page.dbname = read("dbname");
    m_page.dbusername = read("dbusername");
    m_page.dbpassword = read("dbpassword");
    m_page.dbserverip = read("dbserverip");
    m_page.dbtype = read("dbtype");
    m_page.usesecurity = read("usesecurity");
    m_page.rowstyle = read("rowstyle");
    m_page.audreyrowstyle = read("audreyrowstyle");
    m_page.linkfileext = read("linkfileext");
    m_page.footerlinkrule = read("footerlinkrule");
    m_page.useslideinmenu = read("useslideinmenu");
    m_page.touchscreenips = read("touchscreenips");
    m_page.usesound = EqualsNoCase(read("usesound"), "TRUE");
    m_page.hsip = read("hsip");
    m_page.exthsip = read("exthsip");
    m_page.showhsversion = own.Read(kSettingsSection, "showhsversion", "No");
    m_page.showhssystime = own.Read(kSettingsSection, "showhssystime", "No");
    const std::string mode = UpperCase(m_page.usesecurity);
    m_mode = mode == "ENHANCED" ? Mode::Enhanced
             : mode == "BASIC"  ? Mode::Basic
             : mode == "NONE"   ? Mode::None
                                : Mode::Unset;
    m_rowStyle = m_page.rowstyle;
  } catch (const std::exception& error) {
    logFailure(" XStartMiscFunctionsASP: ", error);
  }
}

bool PageDecorations::StartHeaderASP() {
  try {
    bool touch = m_client.userAgent.find("Audrey") != std::string::npos ||
                 m_client.userAgent.find("QNX") != std::string::npos;
    std::string_view list = m_page.touchscreenips;
    while (!touch && !list.empty()) {
      const auto comma = list.find(',');
      touch =
          !m_client.peerAddress.empty() && trimmed(list.substr(0, comma)) == m_client.peerAddress;
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    m_touch = touch;
    if (m_touch) m_rowStyle = m_page.audreyrowstyle;
  } catch (const std::exception& error) {
    logFailure("xStartHeaderASP ", error);
  }
  return m_touch;
}

void PageDecorations::SecurityCheck() {
  // Every request starts without rights: a level left by the previous client must not carry over.
  m_SecureLevel = 0;
  m_SecureUser.clear();
  try {
    const std::string& secId = m_client.peerAddress;
    switch (m_mode) {
      case Mode::Enhanced: {
        const auto found = rows(
            "XSecurityCheck: ", "SELECT UserID, SecureLevel, SecID FROM MenuUsers WHERE SecID = ?",
            {secId});
        if (found.empty()) {
          m_SecureUser = "None";
          break;
        }
        int level = 0;
        std::from_chars(found[0][1].data(), found[0][1].data() + found[0][1].size(), level);
        m_SecureLevel = static_cast<std::int16_t>(std::clamp(level, -32768, 32767));
        m_SecureUser = found[0][0];
        // A stamp that already holds this second is not written again: the same value, without a
        // disk write for every request.
        rows("XSecurityCheck: ",
             "UPDATE MenuUsers SET LastSessTime = datetime('now', 'localtime') WHERE SecID = ? AND "
             "LastSessTime IS NOT datetime('now', 'localtime')",
             {secId});
        break;
      }
      case Mode::Basic: {
        // A user the server verified, else the user table by the connection's address, else,
        // for a browser on this very computer, the local user. No header names anyone.
        std::string user = UpperCase(m_client.authUser);
        if (user.empty()) {
          const auto found = rows(
              "XSecurityCheck: ", "SELECT UserID FROM MenuUsers WHERE SecID = ? LIMIT 1", {secId});
          if (!found.empty()) user = UpperCase(found[0][0]);
        }
        const bool local = user.empty() && secId.rfind("127.", 0) == 0;
        if (!user.empty() && user != "GUEST" && !user.ends_with("SET")) {
          m_SecureLevel = 10;
          m_SecureUser = user;
        } else if (user.ends_with("SET") || local) {
          m_SecureLevel = 10;
          m_SecureUser = "LOCAL";
        } else {
          m_SecureUser = "GUEST";
        }
        break;
      }
      case Mode::None:
        m_SecureLevel = 10;
        m_SecureUser = "NO SECURITY";
        break;
      case Mode::Unset:
        break;
    }
  } catch (const std::exception& error) {
    logFailure("XSecurityCheck: ", error);
  }
}

void PageDecorations::LogAuthorized() {
  try {
    const std::string who =
        m_mode == Mode::Enhanced ? m_SecureUser + " at " : "Anonymous Guest at ";
    m_services.LogEvent("Unauthorized",
                        who + m_client.peerAddress + " attempted to access " + fnPageName());
    m_unauthorized = true;
    if (m_redirectUnauthorized) m_redirectUnauthorized();
  } catch (const std::exception& error) {
    logFailure("LogAuthorized: ", error);
  }
}

std::string PageDecorations::FormatCell(std::string_view text, std::string_view cls,
                                        std::string_view span, std::string_view alignment) {
  try {
    // Appended in place: a page has a few dozen cells and is built for every request.
    std::string cell;
    cell.reserve(text.size() + cls.size() + span.size() + alignment.size() + 120);
    cell += "<td ";
    CellStyle style{cls, false, "#000000", "#FFFFFF"};
    if (!m_touch) {
      cell.append("class=\"").append(cls).append("\" ");
    } else {
      // Touch appliances have no style sheets: the class becomes font and colour attributes.
      for (const CellStyle& known : kCellStyles) {
        if (EqualsNoCase(known.cls, cls)) style = known;
      }
      cell.append("bgcolor=\"").append(style.background).append("\" ");
    }
    if (!span.empty()) cell.append("colspan=\"").append(span).append("\" ");
    if (!alignment.empty()) cell.append("align=\"").append(alignment).append("\" ");
    cell += '>';
    if (!m_touch) {
      cell += text;
    } else {
      cell.append("<font face=\"Verdana, Arial, sans-serif\" size=\"2\" color=\"")
          .append(style.colour)
          .append("\">");
      if (style.bold) {
        cell.append("<b>").append(text).append("</b>");
      } else {
        cell += text;
      }
      cell += "</font>";
    }
    return cell += "</td>";
  } catch (const std::exception& error) {
    logFailure(" FormatCell: ", error);
    return {};
  }
}

std::string PageDecorations::FileContents(const std::string& path) {
  try {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::string(kNoFile);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    std::string text(static_cast<std::size_t>(std::clamp<std::streamoff>(
                         size, 0, static_cast<std::streamoff>(kMaxFileBytes))),
                     '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text.empty() ? std::string(kNoFile) : text;
  } catch (const std::exception& error) {
    logFailure("FileContents: ", error);
    return std::string(kNoFile);
  }
}

std::string PageDecorations::StripHTML(std::string_view text) {
  try {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
      if (text[i] == '<') {
        const auto close = text.find('>', i);
        if (close == std::string_view::npos) break;
        i = close + 1;
      } else if (text[i] == '&' && EqualsNoCase(text.substr(i, 5), "&nbsp")) {
        i += text.size() > i + 5 && text[i + 5] == ';' ? 6 : 5;
      } else {
        out += text[i++];
      }
    }
    return out;
  } catch (const std::exception& error) {
    logFailure("StripHTML Error: ", error);
    return {};
  }
}

std::string PageDecorations::fnPageName() {
  try {
    // The request's own path: a client-sent PATH_INFO header must not name the page.
    const auto slash = m_client.page.find_last_of("/\\");
    return slash == std::string::npos ? m_client.page : m_client.page.substr(slash + 1);
  } catch (const std::exception& error) {
    logFailure("fnPageName: ", error);
    return {};
  }
}

std::string PageDecorations::CustomHeader(const std::vector<std::string>& arguments) {
  std::string out;
  try {
    auto hs = [this](const char* key, const char* fallback = "") {
      return m_hsSettings->Read(kSettingsSection, key, fallback);
    };
    // Positions a page leaves empty take the HomeSeer settings; three are written back once.
    for (const auto& [key, fallback] :
         {std::pair{"strShowLinks", "OldStyle"}, std::pair{"strLogoYN", "Yes"},
          std::pair{"UseSecurity", "None"}}) {
      if (hs(key).empty() && !m_settings.GetAppPath().empty())
        m_settings.SaveIniSetting(kSettingsSection, key, fallback, kHsSettingsFile);
    }
    auto position = [&](std::size_t index, const char* key, const char* fallback = "") {
      std::string value = argument(arguments, index);
      return value.empty() ? hs(key, fallback) : value;
    };
    const std::string title = position(0, "strPageTitle");
    const std::string background = argument(arguments, 2);
    const std::string image = argument(arguments, 3);
    const std::string sheet = argument(arguments, 4);
    const std::string showLinks = position(5, "strShowLinks", "OldStyle");
    std::string refresh = position(6, "strRefresh");
    if (refresh.empty()) refresh = hs("auto_refresh");
    const std::string headerMode = UpperCase(position(7, "strHeader"));
    const bool logo = !EqualsNoCase(position(8, "strLogoYN", "Yes"), "No");
    const bool hideTitle = IsTrueWord(position(10, "HideTitle"));

    out += "<html><head><title>" + StripHTML(title) + "</title>";
    out += "<link rel=\"stylesheet\" type=\"text/css\" href=\"/" +
           std::string(EqualsNoCase(sheet, "StyleNoBody.css") ? "styleNoBody.css" : "style.css") +
           "\">";
    out += "<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\">";
    out += "<meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">";
    if (isNumber(refresh) && refresh != "0") {
      out += "<meta HTTP-EQUIV=\"refresh\" CONTENT=\"" + refresh + "\">";
    }
    const bool noLogo = headerMode == "NO_LOGO" || headerMode == "NO_LOGO_SLIDE";
    if (!noLogo) out += FileContents(htmlFile("meta"));
    if (IsTrueWord(m_page.useslideinmenu) && headerMode != "NO_SLIDE" &&
        headerMode != "NO_LOGO_SLIDE") {
      out += ssmItems();
    }
    out += "</head>";

    const std::string onLoad = hs("BODY_OnLoad");
    if (!onLoad.empty()) {
      out += "<body onload=\"" + HtmlEscape(onLoad) + "\" >";
    } else if (argument(arguments, 1).empty() && !background.empty()) {
      std::string style = " background-color: " + background + ";";
      if (!image.empty() && image != "x") style += " background-image: url(" + image + ");";
      out += "<body style=\"" + HtmlEscape(style) + "\">";
    } else if (!background.empty()) {
      out += "<body bgcolor=\"" + HtmlEscape(background) + "\"" +
             (image.empty() || image == "x" ? "" : " background=\"" + HtmlEscape(image) + "\"") +
             ">";
    } else {
      out += "<body>";
    }
    out += FileContents(htmlFile("head"));
    if (!EqualsNoCase(m_includes->Read(kSettingsSection, "linkslocation"), "NONE")) {
      m_headerRow = headerLinkRow(showLinks);
      out += m_headerRow;
    }
    if (!hideTitle) out += "<div align=\"center\"><strong>" + title + "</strong></div>";
    if (logo) out += LogoBar();
    if (IsTrueWord(m_includes->Read(kSettingsSection, "usePageScroll"))) out += PageScroll();
    out += "<a name=\"pagecontent\"></a>";
  } catch (const std::exception& error) {
    logFailure("XCustomHeader: ", error);
  }
  return out;
}

std::string PageDecorations::headerLinkRow(const std::string& showLinks) {
  std::string row = LinkFile();
  if (!row.empty()) return row;
  if (EqualsNoCase(showLinks, "OldStyle")) return HSLinks();
  return MenuRow();
}

std::string PageDecorations::LogoBar() {
  auto on = [this](const char* key) {
    return IsTrueWord(m_hsSettings->Read(kSettingsSection, key));
  };
  std::string bar =
      "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\" summary=\"Logo "
      "Bar\"><tr class=\"logobar\">";
  const bool clock = on("logoShowClock"), date = on("logoShowDate"), time = on("logoShowTime");
  if (clock) bar += "<td nowrap><span id=\"logoclock\"></span></td>";
  if (date) bar += "<td nowrap><b>Date:</b> <span id=\"logodate\"></span></td>";
  if (time) bar += "<td nowrap><b>Time:</b> <span id=\"logotime\"></span></td>";
  if (clock || date || time) {
    bar += "<td><script type=\"text/javascript\">" +
           FileContents((fs::path(m_htmlFolder) / "javascript" / "clock.js").string()) +
           "</script></td>";
  }
  if (on("logoShowSunrise")) {
    bar +=
        "<td nowrap><b>Sunrise:</b> " + HtmlEscape(m_sunriseText ? m_sunriseText() : "") + "</td>";
  }
  if (on("logoShowSunset")) {
    bar += "<td nowrap><b>Sunset:</b> " + HtmlEscape(m_sunsetText ? m_sunsetText() : "") + "</td>";
  }
  if (on("logoShowWeatherManTemp")) {
    const IniSnapshot weather(m_settings, settingsFile(kWeatherFile));
    bar += "<td nowrap><b>Temp:</b> " + HtmlEscape(weather.Read(kWeatherCurrent, "Temp")) + "</td>";
  }
  if (on("logoShowUsername"))
    bar += "<td nowrap><b>User:</b> " + HtmlEscape(m_SecureUser) + "</td>";
  const std::string logo = m_hsSettings->Read(kSettingsSection, "logoImageLink");
  if (!logo.empty() && !EqualsNoCase(logo, "NONE")) {
    bar += "<td align=\"right\"><a href=\"/\"><img src=\"" + HtmlEscape(logo) +
           "\" alt=\"Logo\" height=\"30\" border=\"0\"></a></td>";
  }
  return bar + "</tr></table>";
}

std::string PageDecorations::ssmItems() {
  try {
    std::string prefs =
        "XOffset=0;YOffset=100;staticYOffset=30;slideSpeed=0;waitTime=1500;menuIsStatic=\"yes\";"
        "menuWidth=150;menuCols=2;barWidth=20;linkOverBGColor=\"#FFFF99\";linkBGColor=\"white\";"
        "linkTarget=\"_top\";barText=\"HomeSeer Forum\";barLink=\"https://forums.homeseer.com/\";";
    const auto pref = rows("ssmItems: ",
                           "SELECT yoffset, xoffset, staticyoffset, slidespeed, waittime, "
                           "menuIsStatic, menuwidth, barlink, bartext, barwidth, mouseovercolor, "
                           "mouseoutcolor, targetwindow FROM MenuPOPPref WHERE UserID = ?",
                           {m_SecureUser});
    if (!pref.empty()) {
      const auto& p = pref[0];
      auto number = [](const std::string& value, const char* fallback) {
        return isNumber(value) ? value : std::string(fallback);
      };
      prefs = "YOffset=" + number(p[0], "100") + ";XOffset=" + number(p[1], "0") +
              ";staticYOffset=" + number(p[2], "30") + ";slideSpeed=" + number(p[3], "0") +
              ";waitTime=" + number(p[4], "1500") + ";menuIsStatic=\"" + JsEscape(p[5]) +
              "\";menuWidth=" + number(p[6], "150") + ";menuCols=2;barLink=\"" + JsEscape(p[7]) +
              "\";barText=\"" + JsEscape(p[8]) + "\";barWidth=" + number(p[9], "20") +
              ";linkOverBGColor=\"" + JsEscape(p[10]) + "\";linkBGColor=\"" + JsEscape(p[11]) +
              "\";linkTarget=\"" + JsEscape(p[12]) + "\";";
    }
    const auto items =
        rows("ssmItems: ",
             "SELECT P.MenuID, P.MenuText, P.MenuURL, M.MenuItem, M.MenuURL, P.IsHeader, "
             "P.IsActive FROM MenuPOP P LEFT JOIN Menus M ON P.MenuID = M.MenuID WHERE "
             "P.IsActive=1 AND P.UserID = (SELECT UserID FROM MenuUsers WHERE SecID = ? LIMIT 1) "
             "ORDER BY P.SortOrder, M.MenuItem",
             {m_client.peerAddress});
    std::string lines;
    int n = 0;
    for (const auto& item : items) {
      const std::string text = JsEscape(item[1].empty() ? item[3] : item[1]);
      const std::string url = JsEscape(item[2].empty() ? item[4] : item[2]);
      lines += "ssmItems[" + std::to_string(n++) + "]=[\"" + text + "\"" +
               (item[5] == "1" ? std::string() : ", \"" + url + "\", \"\"") + "];\n";
    }
    std::string script =
        FileContents((fs::path(m_htmlFolder) / "includes" / "ssmitems.txt").string());
    replaceAll(script, kSsmItemsMark, lines);
    replaceAll(script, kSsmPrefsMark, prefs);
    return script;
  } catch (const std::exception& error) {
    logFailure("ssmItems: ", error);
    return {};
  }
}

std::vector<std::string> PageDecorations::PageScrollWeatherman() {
  std::vector<std::string> lines;
  try {
    const IniSnapshot weather(m_settings, settingsFile(kWeatherFile));
    const std::string city = weather.Read(kWeatherCurrent, "Report_City");
    const std::string temp = weather.Read(kWeatherCurrent, "Temp");
    if (!temp.empty()) {
      std::string line = (city.empty() ? "Now: " : city + ": ") + temp;
      for (const char* key : {"Condition", "Wind"}) {
        const std::string value = weather.Read(kWeatherCurrent, key);
        if (!value.empty()) line += ", " + value;
      }
      lines.push_back(line);
    }
    const std::string high = weather.Read(kWeatherHighLow, "High_Temp");
    const std::string low = weather.Read(kWeatherHighLow, "Low_Temp");
    if (!high.empty() || !low.empty()) lines.push_back("High " + high + " / Low " + low);
    for (const char* key : {"ExtForecast0", "ExtForecast1"}) {
      const std::string value = weather.Read(kWeatherForecast, key);
      if (!value.empty()) lines.push_back(value);
    }
  } catch (const std::exception& error) {
    logFailure("PageScrollWeatherman: ", error);
  }
  return lines;
}

std::string PageDecorations::PageScroll() {
  try {
    std::vector<std::string> texts;
    for (int i = 1; i <= kPageScrollLines; ++i) {
      const std::string text = m_includes->Read("PageScroll", "Text" + std::to_string(i));
      if (!text.empty()) texts.push_back(text);
    }
    for (std::string& line : PageScrollWeatherman()) texts.push_back(std::move(line));
    std::string lines;
    for (std::size_t n = 0; n < texts.size(); ++n) {
      lines += "wcontent[" + std::to_string(n) + "]=\"<font class='pagescrolltext'>" +
               JsEscape(HtmlEscape(texts[n])) + "</font>\";\n";
    }
    std::string script =
        FileContents((fs::path(m_htmlFolder) / "javascript" / "page_scroll.js").string());
    replaceAll(script, kPageScrollMark, lines);
    return "<div id=\"pagescroll\" class=\"pagescroll\"></div><script type=\"text/javascript\">" +
           script + "</script>";
  } catch (const std::exception& error) {
    logFailure("PageScroll: ", error);
    return {};
  }
}

std::string PageDecorations::LinkFile() {
  try {
    std::string extension = m_page.linkfileext.empty() ? ".htm" : m_page.linkfileext;
    if (extension[0] != '.') extension.insert(0, 1, '.');
    const int top = m_mode == Mode::Enhanced ? std::min<int>(m_SecureLevel, kLinkFileLevels) : 0;
    for (int level = top; level >= 0; --level) {
      const std::string path =
          htmlFile(level == 0 ? "links" : "links" + std::to_string(level), extension);
      std::error_code ec;
      if (fs::is_regular_file(path, ec)) return FileContents(path);
    }
  } catch (const std::exception& error) {
    logFailure("LinkFile: ", error);
  }
  return {};
}

std::string PageDecorations::HSLinks() {
  try {
    auto hs = [this](const std::string& key) { return m_hsSettings->Read(kSettingsSection, key); };
    std::string links =
        "<p><a href=\"/\">Home</a> | <a href=\"/stat\">Status</a> | <a href=\"/tope\">Events</a> | "
        "<a href=\"/elog\">Log</a> | <a href=\"/ctrl\">Control Device</a> | <a "
        "href=\"/devs\">Poll Device</a> | <a href=\"/tvgm\">TV/Video Game</a> | <a "
        "href=\"/setp\">Setup</a> | ";
    if (hs("webvenabled") == "1") links += " <a href=\"vmail0\">Messages</a> | ";
    if (EqualsNoCase(hs("gLaunchHSPhone"), "True")) links += "<a href = \"/voic\">Voice</a> | ";
    links += "<a href=\"/html_help/hlp_contents.htm\">Help</a> ";
    for (int i = 1; i <= 4; ++i) {
      const std::string file = hs("gCustomPageFile" + std::to_string(i));
      if (file.empty()) continue;
      links += "| <a href=\"" + HtmlEscape(file) + "\">" +
               HtmlEscape(hs("gCustomPageDesc" + std::to_string(i))) + "</a>";
    }
    return links + "| <a href=\"/logo\">Log Out</a></p>";
  } catch (const std::exception& error) {
    logFailure("HSLinks: ", error);
    return {};
  }
}

std::string PageDecorations::MenuRow() {
  try {
    std::string menuId;
    if (!m_menuChecked) {
      // The hit log and the page's own level are looked at once per request, though the row may
      // be shown at the top and the bottom.
      m_menuChecked = true;
      if (m_includes->Read(kSettingsSection, "logpagehits", "0") == "1") {
        m_services.LogEvent("Web Log", fnPageName() + " was accessed by " + m_client.peerAddress +
                                           " the user: " + m_SecureUser);
      }
    }
    const std::string page = fnPageName();
    const auto entry = rows("MenuRow: ",
                            "SELECT LevelID, ParentID, MenuID, SecureLevel FROM Menus WHERE "
                            "MenuURL LIKE ? ESCAPE '\\' ORDER BY SortOrder",
                            {"%" + likeLiteral(page)});
    if (!entry.empty()) {
      menuId = entry[0][2];
      int required = 0;
      std::from_chars(entry[0][3].data(), entry[0][3].data() + entry[0][3].size(), required);
      if (required > m_SecureLevel && !EqualsNoCase(page, kUnauthorizedPage) && !m_unauthorized) {
        LogAuthorized();
      }
    }
    if (m_unauthorized || m_includes->Read(kSettingsSection, "useMenuRow", "1") != "1") return {};

    const std::string level = std::to_string(m_SecureLevel);
    const std::string style =
        UpperCase(m_includes->Read(kSettingsSection, "menuRowStyle", "BUTTON"));
    auto render = [&style](const std::vector<PageDatabase::Row>& items) {
      std::string row;
      for (const auto& item : items) {
        const std::string name = HtmlEscape(item[0]);
        const std::string url = HtmlEscape(item[1]);
        if (style == "LINK") {
          row += (row.empty() ? "" : " | ") + ("<a href=\"" + url + "\">" + name + "</a>");
        } else if (style == "IMAGE") {
          row += "<a href=\"" + url + "\"><img src=\"" + HtmlEscape(item[4]) + "\" alt=\"" + name +
                 "\" height=\"30\" border=\"0\"></a>";
        } else {
          row += "<td><input type=\"button\" class=\"linkrowbutton\" value=\"" + name +
                 "\"onClick=\"window.parent.location.href='" + HtmlEscape(JsEscape(item[1])) +
                 "'\"></td>";
        }
      }
      if (row.empty()) return row;
      if (style == "LINK" || style == "IMAGE") return "<p class=\"menurow\">" + row + "</p>";
      return "<table class=\"menurow\"><tr>" + row + "</tr></table>";
    };
    std::string out = render(rows("MenuRow: ",
                                  "SELECT MenuItem, MenuURL, ParentID, SecureLevel, MenuImage "
                                  "FROM Menus WHERE LevelID = 1 AND SecureLevel <= ? ORDER BY "
                                  "SortOrder",
                                  {level}));
    if (!menuId.empty()) {
      out += render(rows("MenuRow: ",
                         "SELECT MenuItem, MenuURL, ParentID, SecureLevel, MenuImage FROM Menus "
                         "WHERE ParentID = ? AND LevelID > 1 AND SecureLevel <= ? ORDER BY "
                         "SortOrder",
                         {menuId, level}));
    }
    const IniSnapshot weather(m_settings, settingsFile(kWeatherFile));
    const std::string alertIds = weather.Read(kWeatherCurrent, "AlertIDs");
    std::string_view alerts = alertIds;
    std::string alertLinks;
    while (!alerts.empty()) {
      const auto comma = alerts.find(',');
      const std::string id = trimmed(alerts.substr(0, comma));
      alerts = comma == std::string_view::npos ? std::string_view() : alerts.substr(comma + 1);
      if (id.empty()) continue;
      alertLinks += " <a class=\"weatheralert\" href=\"https://alerts.weather.gov/search?id=" +
                    HtmlEscape(id) + "\">Weather Alert " + HtmlEscape(id) + "</a>";
    }
    if (!alertLinks.empty()) out += "<p class=\"menurow\">" + alertLinks + "</p>";
    return out;
  } catch (const std::exception& error) {
    logFailure("MenuRow: ", error);
    return {};
  }
}

std::string PageDecorations::CustomFooter() {
  std::string out;
  try {
    if (m_touch) {
      out +=
          "<br><br><div align=\"center\"><form>"
          "<input type=button value=\" << \" onClick=\"history.back()\">"
          "<input type=button value=\"Refresh\" onClick=\"history.go(0)\">"
          "<input type=button value=\" >> \" onClick=\"history.forward()\">"
          "</form></div>";
    } else {
      const std::string rule = UpperCase(m_page.footerlinkrule);
      if (rule == "YES") {
        const std::string links = LinkFile();
        out += links.empty() ? HSLinks() : links;
      } else if (rule == "SAME") {
        out += m_headerRow;
      } else {
        out += MenuRow();
      }
    }
    const std::string tail = htmlFile("tail");
    std::error_code ec;
    if (fs::is_regular_file(tail, ec)) out += FileContents(tail);
    const bool version = EqualsNoCase(m_page.showhsversion, "Yes");
    const bool uptime = EqualsNoCase(m_page.showhssystime, "Yes");
    if (version || uptime) {
      out += "<div class=\"footer\">";
      if (version) out += "Version: " + m_settings.Version() + "<br>";
      if (uptime) out += "System Uptime: " + m_settings.SystemUpTime();
      out += "</div>";
    }
    out += "</body></html>\r\n";
  } catch (const std::exception& error) {
    logFailure("XCustomFooter: ", error);
  }
  return out;
}

}  // namespace rovalink::web
