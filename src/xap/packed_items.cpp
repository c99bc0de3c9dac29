#include "xap/packed_items.h"

#include <cstdint>
#include <cstring>

#include "settings/log_text.h"

namespace rovalink::xap {
namespace {

constexpr bool isControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < 0x20 || code == 0x7F;
}

}  // namespace

bool HasControlCharacters(std::string_view text) {
  // Every outgoing field is checked, so eight bytes at a time: in (x - 0x20..) & ~x & 0x80.. a
  // top bit is set when some byte is below 0x20, and likewise for a byte equal to 0x7F after
  // x ^ 0x7F.. turns it into zero.
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kTopBits = 0x8080808080808080ULL;
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    const std::uint64_t del = word ^ (kOnes * 0x7F);
    if (((word - kOnes * 0x20) & ~word & kTopBits) | ((del - kOnes) & ~del & kTopBits)) return true;
  }
  for (; at < text.size(); ++at) {
    if (isControl(text[at])) return true;
  }
  return false;
}

std::string EscapeControlCharacters(std::string_view text) {
  // The same escape the error log and events use, without their length limit.
  if (!HasControlCharacters(text)) return std::string(text);
  return settings::LogText(text, std::string_view::npos);
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
