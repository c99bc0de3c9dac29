#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/hs.h"
#include "settings/services.h"
#include "web/pages/ini_snapshot.h"
#include "web/pages/page_database.h"

namespace rovalink::web {

// What the decorations know of the client of one page request. The address is the connection's
// peer: no header the client sends decides who it is.
struct PageClient {
  std::string peerAddress;
  std::string userAgent;
  std::string page;      // the request's decoded path
  std::string authUser;  // a user the server verified; never a client-sent header
};

// The HomeSeer-style frame around a generated page: header with title, style sheet, menus, link
// rows and logo bar; table cells styled by class; footer. Settings are looked up for every
// request; menus and users come from the database when one is configured.
class PageDecorations {
 public:
  using DatabaseOpener = std::function<std::unique_ptr<PageDatabase>(const std::string& path)>;

  struct Wiring {
    settings::hs& settings;
    settings::Services& services;  // LogEvent
    std::string htmlFolder;
    std::function<std::string()> sunriseText;  // last "Time.Today" values, may be empty
    std::function<std::string()> sunsetText;
    DatabaseOpener openDatabase;  // empty: SQLite files
  };

  // Section "Settings" of qbtRovalink.ini, read for every page request.
  struct PageSettings {
    std::string dbpath, dbname, dbusername, dbpassword, dbserverip, dbtype;
    std::string usesecurity, rowstyle, audreyrowstyle, linkfileext, footerlinkrule;
    std::string useslideinmenu, touchscreenips, hsip, exthsip, showhsversion, showhssystime;
    bool usesound = false;
  };

  explicit PageDecorations(Wiring wiring);
  ~PageDecorations();
  PageDecorations(const PageDecorations&) = delete;
  PageDecorations& operator=(const PageDecorations&) = delete;

  // Starts a page request. redirectUnauthorized sends the "Unauthorized Access" answer.
  void BeginRequest(PageClient client, std::function<void()> redirectUnauthorized);

  void StartMiscFunctionsASP();
  bool StartHeaderASP();
  void SecurityCheck();

  std::string FormatCell(std::string_view text, std::string_view cls, std::string_view span,
                         std::string_view alignment);
  std::string CustomHeader(const std::vector<std::string>& arguments);
  std::string CustomFooter();
  std::string FileContents(const std::string& path);
  std::string StripHTML(std::string_view text);
  std::string fnPageName();

  std::int16_t SecureLevel() const { return m_SecureLevel; }
  const std::string& SecureUser() const { return m_SecureUser; }
  bool IsTouchClient() const { return m_touch; }
  const std::string& RowStyle() const { return m_rowStyle; }
  const PageSettings& settings() const { return m_page; }
  // The unauthorized answer went out for this request; the page itself must not follow it.
  bool Unauthorized() const { return m_unauthorized; }

  static constexpr std::string_view kNoFile = "No File";
  // HTML fragments are the program's own files; a runaway one is cut here.
  static constexpr std::size_t kMaxFileBytes = 1 << 20;

 private:
  enum class Mode { Unset, Enhanced, Basic, None };

  void logFailure(const char* routine, const std::exception& error);
  std::vector<PageDatabase::Row> rows(const char* routine, std::string_view sql,
                                      const std::vector<std::string>& params);
  bool haveDatabase() const;
  std::string htmlFile(std::string_view name, std::string_view extension = ".htm") const;
  std::string settingsFile(std::string_view name) const;

  std::string headerLinkRow(const std::string& showLinks);
  std::string MenuRow();
  std::string LinkFile();
  std::string HSLinks();
  std::string ssmItems();
  std::string PageScroll();
  std::vector<std::string> PageScrollWeatherman();
  std::string LogoBar();
  void LogAuthorized();

  settings::hs& m_settings;
  settings::Services& m_services;
  std::string m_htmlFolder;
  std::function<std::string()> m_sunriseText;
  std::function<std::string()> m_sunsetText;
  DatabaseOpener m_openDatabase;

  // Per request.
  PageClient m_client;
  std::function<void()> m_redirectUnauthorized;
  PageSettings m_page;
  Mode m_mode = Mode::Unset;
  bool m_touch = false;
  std::string m_rowStyle;
  std::optional<IniSnapshot> m_hsSettings;  // settings.ini
  std::optional<IniSnapshot> m_includes;    // includes.ini
  bool m_dbFailed = false;
  bool m_menuChecked = false;
  bool m_unauthorized = false;
  std::string m_headerRow;

  std::unique_ptr<PageDatabase> m_db;
  std::string m_dbPath;

  // Kept between requests, as the pages have always done; SecurityCheck sets both afresh.
  std::int16_t m_SecureLevel = 0;
  std::string m_SecureUser;
};

}  // namespace rovalink::web
