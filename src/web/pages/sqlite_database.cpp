#include "web/pages/sqlite_database.h"

#include <sqlite3.h>

#include <memory>

namespace rovalink::web {
namespace {

struct StatementCloser {
  void operator()(sqlite3_stmt* statement) const { finalize(statement); }
  decltype(&::sqlite3_finalize) finalize;
};

}  // namespace

SqliteDatabase::SqliteDatabase(const std::string& path) {
  if (!m_lib.loaded()) throw Error("cannot open database " + path + ": " + m_lib.error());
  const int rc = m_lib.sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason =
        m_db != nullptr ? m_lib.sqlite3_errmsg(m_db) : m_lib.sqlite3_errstr(rc);
    m_lib.sqlite3_close(m_db);
    m_db = nullptr;
    throw Error("cannot open database " + path + ": " + reason);
  }
  m_lib.sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
}

SqliteDatabase::~SqliteDatabase() {
  if (m_db != nullptr) m_lib.sqlite3_close(m_db);
}

std::vector<PageDatabase::Row> SqliteDatabase::query(std::string_view sql,
                                                     const std::vector<std::string>& params,
                                                     std::size_t maxRows) {
  sqlite3_stmt* raw = nullptr;
  if (m_lib.sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    throw Error(m_lib.sqlite3_errmsg(m_db));
  }
  const std::unique_ptr<sqlite3_stmt, StatementCloser> statement(
      raw, StatementCloser{m_lib.sqlite3_finalize});
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (m_lib.sqlite3_bind_text(raw, static_cast<int>(i + 1), params[i].data(),
                                static_cast<int>(params[i].size()),
                                SQLITE_TRANSIENT) != SQLITE_OK) {
      throw Error(m_lib.sqlite3_errmsg(m_db));
    }
  }
  std::vector<Row> rows;
  const int columns = m_lib.sqlite3_column_count(raw);
  for (;;) {
    const int rc = m_lib.sqlite3_step(raw);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw Error(m_lib.sqlite3_errmsg(m_db));
    if (rows.size() >= maxRows) break;
    Row row;
    row.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      const auto* text = m_lib.sqlite3_column_text(raw, c);
      const int size = m_lib.sqlite3_column_bytes(raw, c);
      row.emplace_back(text != nullptr ? std::string(reinterpret_cast<const char*>(text),
                                                     static_cast<std::size_t>(size))
                                       : std::string());
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace rovalink::web
