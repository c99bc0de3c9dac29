#include "xap/packed_items.h"

#include <algorithm>

namespace rovalink::xap {
namespace {

bool isControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < 0x20 || code == 0x7F;
}

}  // namespace

bool HasControlCharacters(std::string_view text) {
  return std::any_of(text.begin(), text.end(), isControl);
}

std::string EscapeControlCharacters(std::string_view text) {
  if (!HasControlCharacters(text)) return std::string(text);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size() + 8);
  for (const char c : text) {
    if (isControl(c)) {
      const auto code = static_cast<unsigned char>(c);
      escaped.append("\\x").push_back(kHex[code >> 4]);
      escaped.push_back(kHex[code & 0xF]);
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

std::vector<PackedItem> UnpackItems(std::string_view sData) {
  std::vector<PackedItem> items;
  std::size_t start = 0;
  while (start <= sData.size()) {
    auto end = sData.find('\0', start);
    if (end == std::string_view::npos) end = sData.size();
    const std::string_view piece = sData.substr(start, end - start);
    const auto mark = piece.find('\1');
    if (mark != std::string_view::npos) {
      items.push_back({piece.substr(0, mark), piece.substr(mark + 1)});
    }
    start = end + 1;
  }
  return items;
}

std::string PackItems(const std::vector<std::pair<std::string, std::string>>& items) {
  std::string packed;
  for (const auto& [name, value] : items) {
    if (!packed.empty()) packed.push_back('\0');
    packed.append(EscapeControlCharacters(name));
    packed.push_back('\1');
    packed.append(EscapeControlCharacters(value));
  }
  return packed;
}

}  // namespace rovalink::xap
