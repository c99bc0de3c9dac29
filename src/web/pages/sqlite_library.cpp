#include "web/pages/sqlite_library.h"

#include "platform/shared_library.h"

namespace rovalink::web {

SqliteLibrary::SqliteLibrary(const char* file) {
  platform::SharedLibrary library(file);
  ROVALINK_SQLITE_CALLS(ROVALINK_LIBRARY_FIND)
  m_error = library.error();
}

}  // namespace rovalink::web
