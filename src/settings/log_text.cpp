#include "settings/log_text.h"

namespace rovalink::settings {
namespace {

bool isControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

std::size_t escapedSize(unsigned char c) {
  return isControl(c) ? 4 : 1;
}

void appendEscaped(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (!isControl(c)) {
    out.push_back(static_cast<char>(c));
    return;
  }
  out.append("\\x");
  out.push_back(kHex[c >> 4]);
  out.push_back(kHex[c & 0xF]);
}

}  // namespace

std::string LogText(std::string_view text, std::size_t maxBytes) {
  static constexpr std::string_view kCut = "...";
  // Stops counting as soon as the limit is passed, so a huge text costs no more than a short one.
  std::size_t total = 0;
  for (std::size_t i = 0; i < text.size() && total <= maxBytes; ++i) {
    total += escapedSize(static_cast<unsigned char>(text[i]));
  }
  const bool cut = total > maxBytes;
  const std::size_t room = cut ? (maxBytes > kCut.size() ? maxBytes - kCut.size() : 0) : maxBytes;
  std::string out;
  out.reserve(cut ? maxBytes : total);
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (out.size() + escapedSize(byte) > room) break;
    appendEscaped(out, byte);
  }
  if (cut) out.append(kCut.substr(0, maxBytes - out.size()));
  return out;
}

}  // namespace rovalink::settings
