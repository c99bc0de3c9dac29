#include "mqtt/mosquitto_library.h"

#include "platform/shared_library.h"

namespace rovalink::mqtt {

MosquittoLibrary::MosquittoLibrary(const char* file) {
  platform::SharedLibrary library(file);
  ROVALINK_MOSQUITTO_CALLS(ROVALINK_LIBRARY_FIND)
  m_error = library.error();
}

}  // namespace rovalink::mqtt
