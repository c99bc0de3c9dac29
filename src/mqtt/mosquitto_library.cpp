#include "mqtt/mosquitto_library.h"

#include <dlfcn.h>

namespace rovalink::mqtt {

MosquittoLibrary::MosquittoLibrary(const char* file) {
  // Never closed: the TLS library below it does not support being unloaded.
  void* handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    m_error = reason != nullptr ? reason : std::string(file) + " cannot be loaded";
    return;
  }
#define ROVALINK_MOSQUITTO_LOAD(name)                              \
  name = reinterpret_cast<decltype(name)>(::dlsym(handle, #name)); \
  if (name == nullptr && m_error.empty()) {                        \
    m_error = std::string(file) + " has no " #name;                \
  }
  ROVALINK_MOSQUITTO_CALLS(ROVALINK_MOSQUITTO_LOAD)
#undef ROVALINK_MOSQUITTO_LOAD
}

}  // namespace rovalink::mqtt
