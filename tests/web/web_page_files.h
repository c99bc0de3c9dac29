#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "settings/hs.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "web/pages/sqlite_database.h"

namespace rovalink::web {

// The html folder with a marker text per fragment, so a test sees which file went where.
inline void WriteSamplePageFiles(const testing::TestFolder& app) {
  for (const char* name : {"meta", "head", "links", "tail"}) {
    testing::writeFile(app.file(std::string("html/") + name + ".htm"),
                       std::string("[") + name + "]");
    testing::writeFile(app.file(std::string("html/") + name + "_touchscreen.htm"),
                       std::string("[") + name + " touch]");
  }
  testing::writeFile(app.file("html/includes/ssmitems.txt"),
                     "[ssm (******REPLACE_SSMPREFS******) (******REPLACE_SSMITEMS******)]");
  testing::writeFile(app.file("html/javascript/clock.js"), "[clock]");
  testing::writeFile(app.file("html/javascript/page_scroll.js"),
                     "[scroll (******REPLACE_PAGESCROLL******)]");
}

// A real SQLite file made by the same statements the shipped script runs.
inline void MakeSampleDatabase(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  sqlite3* db = nullptr;
  char* error = nullptr;
  const std::string schema = testing::readFile(ROVALINK_WEB_DB_SQL);
  const bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK && !schema.empty() &&
                  sqlite3_exec(db, schema.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
  const std::string reason = error != nullptr ? error : "cannot open or read";
  sqlite3_free(error);
  sqlite3_close(db);
  if (!ok) throw std::runtime_error("sample database: " + reason);
}

// An application folder with the sample page files, and the settings that read it.
class SamplePageApp {
 protected:
  SamplePageApp() : m_settings(m_services) {
    m_settings.setAppPath(m_folder.path().string());
    WriteSamplePageFiles(m_folder);
  }
  void writeSettings(const std::string& lines) {
    testing::writeFile(m_folder.file("Config/qbtRovalink.ini"), "[Settings]\r\n" + lines);
  }
  void makeDatabase() { MakeSampleDatabase(m_folder.file("Config/web.db")); }
  // The robot page then needs security level 10.
  void restrictRobotPage() {
    SqliteDatabase(m_folder.file("Config/web.db"))
        .query("UPDATE Menus SET SecureLevel = 10 WHERE MenuURL = '/spykee'", {});
  }

  testing::TestFolder m_folder;
  testing::RecordingServices m_services;
  settings::hs m_settings;
};

}  // namespace rovalink::web
