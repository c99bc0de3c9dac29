#include "xap/packed_items.h"

#include <cstdint>
#include <cstring>

namespace rovalink::xap {
namespace {

constexpr bool isControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < 0x20 || code == 0x7F;
}

std::uint64_t load64(const char* at) {
  std::uint64_t word = 0;
  std::memcpy(&word, at, 8);
  return word;
}

std::uint64_t load32(const char* at) {
  std::uint32_t word = 0;
  std::memcpy(&word, at, 4);
  return word;
}

// Per byte, with y its low seven bits: y + 0x60 sets the top bit when y >= 0x20, and y + 1 when
// y == 0x7F; no lane carries into the next, and bytes of 0x80 and above are never control.
bool controlInWord(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kTopBits = kOnes * 0x80;
  const std::uint64_t low = word & ~kTopBits;
  return ((~(low + kOnes * 0x60) | (low + kOnes)) & ~word & kTopBits) != 0;
}

}  // namespace

bool HasControlCharacters(std::string_view text) {
  // Every outgoing field is checked, most of them short: eight bytes at a time, the last eight
  // (or two overlapping fours) read whole rather than byte by byte.
  const char* data = text.data();
  const std::size_t size = text.size();
  if (size >= 8) {
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
      if (controlInWord(load64(data + at))) return true;
    }
    return at < size && controlInWord(load64(data + size - 8));
  }
  if (size >= 4) return controlInWord(load32(data) | (load32(data + size - 4) << 32));
  for (std::size_t at = 0; at < size; ++at) {
    if (isControl(data[at])) return true;
  }
  return false;
}

std::string EscapeControlCharacters(std::string_view text) {
  // The escape the error log and events use ("\xNN"), without their length limit. Runs
  // without control characters are copied whole.
  if (!HasControlCharacters(text)) return std::string(text);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + 12);
  std::size_t runStart = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!isControl(text[at])) continue;
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
