#include "web/pages/live_status.h"

namespace rovalink::web {
namespace {

const char* boolText(bool b) {
  return b ? "true" : "false";
}

// Link texts are fixed words; anything else is dropped rather than escaped.
std::string plainText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if ((c >= 'a' && c <= 'z') || c == ' ') out.push_back(c);
  }
  return out;
}

}  // namespace

std::string LiveStatus::ToJson() const {
  std::string json = "{\"battery\":" + std::to_string(battery);
  json += ",\"docked\":";
  json += boolText(docked);
  json += ",\"connected\":";
  json += boolText(connected);
  json += ",\"link\":\"" + plainText(link) + "\"";
  json += ",\"moving\":";
  json += boolText(moving);
  json += ",\"movement\":" + std::to_string(movement);
  json += ",\"leds\":{\"head\":";
  json += boolText(headLed);
  json += ",\"left\":";
  json += boolText(leftLed);
  json += ",\"right\":";
  json += boolText(rightLed);
  json += "},\"volume\":" + std::to_string(volume);
  json += ",\"speed\":" + std::to_string(speed);
  json += ",\"turbo\":";
  json += boolText(turbo);
  json += ",\"video\":";
  json += boolText(video);
  json += ",\"audio\":";
  json += boolText(audio);
  json += ",\"path\":";
  json += boolText(pathRunning);
  json += ",\"fps\":" + std::to_string(frameRate) + "}";
  return json;
}

}  // namespace rovalink::web
