#include "web/pages/sqlite_library.h"

#include "platform/shared_library.h"

namespace rovalink::web {

SqliteLibrary::SqliteLibrary(const char* file) {
  platform::SharedLibrary library(file);
#define ROVALINK_SQLITE_FIND(name) library.find(#name, name);
  ROVALINK_SQLITE_CALLS(ROVALINK_SQLITE_FIND)
#undef ROVALINK_SQLITE_FIND
  m_error = library.error();
}

}  // namespace rovalink::web
