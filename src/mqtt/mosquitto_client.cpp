#include "mqtt/mosquitto_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rovalink::mqtt {

MosquittoClient::MosquittoClient() {
  if (m_lib.loaded()) m_lib.mosquitto_lib_init();
}

MosquittoClient::~MosquittoClient() {
  if (m_mosq != nullptr) m_lib.mosquitto_destroy(m_mosq);
  if (m_lib.loaded()) m_lib.mosquitto_lib_cleanup();
}

std::string MosquittoClient::errorText(int rc) const {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return m_lib.mosquitto_strerror(rc);
}

bool MosquittoClient::configure(const MqttSettings& settings, const std::string& willTopic,
                                const std::string& willPayload, std::string& error) {
  if (!m_lib.loaded()) {
    error = m_lib.error();
    return false;
  }
  if (m_mosq != nullptr) m_lib.mosquitto_destroy(m_mosq);
  m_mosq = m_lib.mosquitto_new(settings.clientId.c_str(), true, this);
  if (m_mosq == nullptr) {
    error = "cannot create a client";
    return false;
  }
  m_lib.mosquitto_connect_callback_set(m_mosq, &MosquittoClient::onConnect);
  m_lib.mosquitto_disconnect_callback_set(m_mosq, &MosquittoClient::onDisconnect);
  m_lib.mosquitto_message_callback_set(m_mosq, &MosquittoClient::onMessage);
  int rc = m_lib.mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION,
                                      m_v5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
  if (rc == MOSQ_ERR_SUCCESS && !settings.username.empty()) {
    rc = m_lib.mosquitto_username_pw_set(
        m_mosq, settings.username.c_str(),
        settings.password.empty() ? nullptr : settings.password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS) {
    rc = m_lib.mosquitto_will_set(m_mosq, willTopic.c_str(), static_cast<int>(willPayload.size()),
                                  willPayload.data(), 1, true);
  }
  if (rc == MOSQ_ERR_SUCCESS && m_v5) {
    setConnectProperties(true);
    m_withProperties = true;
  }
  if (rc == MOSQ_ERR_SUCCESS && !settings.caFile.empty()) {
    rc = m_lib.mosquitto_tls_set(m_mosq, settings.caFile.c_str(), nullptr, nullptr, nullptr,
                                 nullptr);
    if (rc == MOSQ_ERR_SUCCESS) rc = m_lib.mosquitto_tls_insecure_set(m_mosq, settings.insecure);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    error = errorText(rc);
    return false;
  }
  return true;
}

// The library keeps CONNECT properties only through its blocking connect, and reuses them for
// every later connection: hand them over through a call that stops at the missing host, before
// any network.
void MosquittoClient::setConnectProperties(bool withMaxPacketSize) {
  mosquitto_property* properties = nullptr;
  if (withMaxPacketSize)
    m_lib.mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, kMaxPacketBytes);
  m_lib.mosquitto_connect_bind_v5(m_mosq, nullptr, 0, kKeepAliveSeconds, nullptr, properties);
  m_lib.mosquitto_property_free_all(&properties);
}

bool MosquittoClient::connectAsync(const std::string& address, int port, std::string& error) {
  if (m_mosq == nullptr) {
    error = "not configured";
    return false;
  }
  if (!m_v5 && m_withProperties) {
    setConnectProperties(false);
    m_lib.mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    m_withProperties = false;
  }
  const int rc = m_lib.mosquitto_connect_async(m_mosq, address.c_str(), port, kKeepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS || m_lib.mosquitto_socket(m_mosq) < 0) {
    error = errorText(rc);
    return false;
  }
  return true;
}

int MosquittoClient::socket() const {
  return m_mosq == nullptr ? -1 : m_lib.mosquitto_socket(m_mosq);
}

bool MosquittoClient::wantWrite() const {
  return m_mosq != nullptr && m_lib.mosquitto_want_write(m_mosq);
}

int MosquittoClient::loopRead() {
  // The library reads one packet per call. Read on until the socket is empty: a TLS layer may
  // hold whole records that no longer show as readable on the socket.
  if (m_mosq == nullptr) return MOSQ_ERR_NO_CONN;
  for (int packet = 0; packet < kMaxPacketsPerRead; ++packet) {
    errno = 0;
    const int rc = m_lib.mosquitto_loop_read(m_mosq, 1);
    if (rc != MOSQ_ERR_SUCCESS || errno == EAGAIN || errno == EWOULDBLOCK || socket() < 0)
      return rc;
  }
  return MOSQ_ERR_SUCCESS;
}

int MosquittoClient::loopWrite() {
  if (m_mosq == nullptr) return MOSQ_ERR_NO_CONN;
  return m_lib.mosquitto_loop_write(m_mosq, 1);
}

int MosquittoClient::loopMisc() {
  if (m_mosq == nullptr) return MOSQ_ERR_NO_CONN;
  return m_lib.mosquitto_loop_misc(m_mosq);
}

bool MosquittoClient::publish(const std::string& topic, const std::string& payload, bool retain,
                              int qos) {
  if (m_mosq == nullptr) return false;
  return m_lib.mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                 payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
}

bool MosquittoClient::subscribe(const std::string& pattern) {
  if (m_mosq == nullptr) return false;
  return m_lib.mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), 0) == MOSQ_ERR_SUCCESS;
}

void MosquittoClient::disconnect() {
  if (m_mosq != nullptr) m_lib.mosquitto_disconnect(m_mosq);
}

void MosquittoClient::onConnect(mosquitto*, void* self, int rc) {
  auto& client = *static_cast<MosquittoClient*>(self);
  // A broker that only speaks 3.1.1 refuses the version; the next attempt uses 3.1.1.
  if (client.m_v5 &&
      (rc == CONNACK_REFUSED_PROTOCOL_VERSION || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION)) {
    client.m_v5 = false;
    client.m_lib.mosquitto_int_option(client.m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  }
  if (client.m_callbacks.onConnect)
    client.m_callbacks.onConnect(rc, client.m_lib.mosquitto_connack_string(rc));
}

void MosquittoClient::onDisconnect(mosquitto*, void* self, int rc) {
  auto& client = *static_cast<MosquittoClient*>(self);
  const std::string reason = rc == 0 ? "disconnected" : "connection lost";
  if (client.m_callbacks.onDisconnect) client.m_callbacks.onDisconnect(rc, reason);
}

void MosquittoClient::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto& client = *static_cast<MosquittoClient*>(self);
  if (!client.m_callbacks.onMessage || message->topic == nullptr) return;
  const char* bytes = static_cast<const char*>(message->payload);
  const std::size_t length =
      bytes == nullptr
          ? 0
          : std::min(static_cast<std::size_t>(message->payloadlen), kMaxPayloadBytes + 1);
  client.m_callbacks.onMessage(message->topic, std::string(bytes, length), message->retain);
}

}  // namespace rovalink::mqtt
