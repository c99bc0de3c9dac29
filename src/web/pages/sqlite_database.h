#pragma once

#include <string>

#include "web/pages/page_database.h"
#include "web/pages/sqlite_library.h"

namespace rovalink::web {

// A PageDatabase in one SQLite file. The file must exist: a mistyped path is an error, not a new
// empty database.
class SqliteDatabase : public PageDatabase {
 public:
  // A busy database makes a query fail after this wait instead of stalling the event loop.
  static constexpr int kBusyTimeoutMs = 100;

  explicit SqliteDatabase(const std::string& path);  // throws Error
  ~SqliteDatabase() override;
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  std::vector<Row> query(std::string_view sql, const std::vector<std::string>& params,
                         std::size_t maxRows = kMaxRows) override;

 private:
  SqliteLibrary m_lib;
  sqlite3* m_db = nullptr;
};

}  // namespace rovalink::web
