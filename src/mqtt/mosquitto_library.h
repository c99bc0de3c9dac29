#pragma once

#include <string>

#include <mosquitto.h>

#include "platform/shared_library.h"

// Every libmosquitto call the client makes, in one list.
#define ROVALINK_MOSQUITTO_CALLS(X)    \
  X(mosquitto_connack_string)          \
  X(mosquitto_connect_async)           \
  X(mosquitto_connect_bind_v5)         \
  X(mosquitto_connect_callback_set)    \
  X(mosquitto_destroy)                 \
  X(mosquitto_disconnect)              \
  X(mosquitto_disconnect_callback_set) \
  X(mosquitto_int_option)              \
  X(mosquitto_lib_cleanup)             \
  X(mosquitto_lib_init)                \
  X(mosquitto_loop_misc)               \
  X(mosquitto_loop_read)               \
  X(mosquitto_loop_write)              \
  X(mosquitto_message_callback_set)    \
  X(mosquitto_new)                     \
  X(mosquitto_property_add_int32)      \
  X(mosquitto_property_free_all)       \
  X(mosquitto_publish)                 \
  X(mosquitto_socket)                  \
  X(mosquitto_strerror)                \
  X(mosquitto_subscribe)               \
  X(mosquitto_tls_insecure_set)        \
  X(mosquitto_tls_set)                 \
  X(mosquitto_username_pw_set)         \
  X(mosquitto_want_write)              \
  X(mosquitto_will_set)

namespace rovalink::mqtt {

// libmosquitto, loaded when the first MQTT client is made (platform::SharedLibrary): a gateway
// without MQTT then never loads it, nor the TLS libraries it pulls in, which were about 40 % of
// the dynamic linking work before the first heartbeat.
class MosquittoLibrary {
 public:
  static constexpr const char* kFile = "libmosquitto.so.1";

  // Loads the library; when it or one of its calls is missing, loaded() is false and error()
  // says why.
  explicit MosquittoLibrary(const char* file = kFile);
  bool loaded() const { return m_error.empty(); }
  const std::string& error() const { return m_error; }

  ROVALINK_MOSQUITTO_CALLS(ROVALINK_LIBRARY_POINTER)

 private:
  std::string m_error;
};

}  // namespace rovalink::mqtt
