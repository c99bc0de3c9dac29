#include "xap/packed_items.h"

namespace rovalink::xap {

std::string EscapeControlCharacters(std::string_view text) {
  // The escape the error log and events use ("\\xNN"), without their length limit. Runs
  // without control characters are copied whole.
  if (!HasControlCharacters(text)) return std::string(text);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + 12);
  std::size_t runStart = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!control_detail::isControl(text[at])) continue;
    out.append(text.data() + runStart, at - runStart);
    const auto code = static_cast<unsigned char>(text[at]);
    const char escaped[] = {'\\', 'x', kHex[code >> 4], kHex[code & 0xF]};
    out.append(escaped, sizeof escaped);
    runStart = at + 1;
  }
  out.append(text.data() + runStart, text.size() - runStart);
  return out;
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
