#include "xap/packed_items.h"

namespace rovalink::xap {

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
    packed.append(name);
    packed.push_back('\1');
    packed.append(value);
  }
  return packed;
}

}  // namespace rovalink::xap
