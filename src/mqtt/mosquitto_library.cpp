#include "mqtt/mosquitto_library.h"

#include "platform/shared_library.h"

namespace rovalink::mqtt {

MosquittoLibrary::MosquittoLibrary(const char* file) {
  platform::SharedLibrary library(file);
#define ROVALINK_MOSQUITTO_FIND(name) library.find(#name, name);
  ROVALINK_MOSQUITTO_CALLS(ROVALINK_MOSQUITTO_FIND)
#undef ROVALINK_MOSQUITTO_FIND
  m_error = library.error();
}

}  // namespace rovalink::mqtt
