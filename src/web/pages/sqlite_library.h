#pragma once

#include <string>

#include <sqlite3.h>

#include "platform/shared_library.h"

// Every SQLite call the page database makes, in one list.
#define ROVALINK_SQLITE_CALLS(X) \
  X(sqlite3_bind_text)           \
  X(sqlite3_busy_timeout)        \
  X(sqlite3_close)               \
  X(sqlite3_column_bytes)        \
  X(sqlite3_column_count)        \
  X(sqlite3_column_text)         \
  X(sqlite3_errmsg)              \
  X(sqlite3_errstr)              \
  X(sqlite3_finalize)            \
  X(sqlite3_open_v2)             \
  X(sqlite3_prepare_v2)          \
  X(sqlite3_step)

namespace rovalink::web {

// libsqlite3, loaded when the first page database is opened rather than linked: it added about
// 15 % to the dynamic linking work before the first heartbeat.
class SqliteLibrary {
 public:
  static constexpr const char* kFile = "libsqlite3.so.0";

  // Loads the library; when it or one of its calls is missing, loaded() is false and error()
  // says why.
  explicit SqliteLibrary(const char* file = kFile);
  bool loaded() const { return m_error.empty(); }
  const std::string& error() const { return m_error; }

  ROVALINK_SQLITE_CALLS(ROVALINK_LIBRARY_POINTER)

 private:
  std::string m_error;
};

}  // namespace rovalink::web
