#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rovalink::xap {

// Body items handed to a send as one text: items separated by char 0, name and value by the
// first char 1.
struct PackedItem {
  std::string_view name;
  std::string_view value;
};

// The items of packed data (views into sData); pieces without a char 1 are skipped.
std::vector<PackedItem> UnpackItems(std::string_view sData);

// Packs names and values, each with its control characters escaped.
std::string PackItems(const std::vector<std::pair<std::string, std::string>>& items);

// Control characters (codes 0 to 31 and 127) written as "\xNN": an outgoing name or value can
// then neither split packed data into more items nor start a new line of the xAP text.
std::string EscapeControlCharacters(std::string_view text);

namespace control_detail {

inline std::uint64_t load64(const char* at) {
  std::uint64_t word = 0;
  std::memcpy(&word, at, 8);
  return word;
}

inline std::uint64_t load32(const char* at) {
  std::uint32_t word = 0;
  std::memcpy(&word, at, 4);
  return word;
}

// Per byte, with y its low seven bits: y + 0x60 sets the top bit when y >= 0x20, and y + 1 when
// y == 0x7F; no lane carries into the next, and bytes of 0x80 and above are never control.
inline bool controlInWord(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kTopBits = kOnes * 0x80;
  const std::uint64_t low = word & ~kTopBits;
  return ((~(low + kOnes * 0x60) | (low + kOnes)) & ~word & kTopBits) != 0;
}

constexpr bool isControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < 0x20 || code == 0x7F;
}

#if defined(__SSE2__)
inline bool controlIn16(const char* at) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  // Unsigned: min(b, 0x1F) == b exactly when b <= 0x1F.
  const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(0x1F)), bytes);
  const __m128i del = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F));
  return _mm_movemask_epi8(_mm_or_si128(low, del)) != 0;
}
#endif

}  // namespace control_detail

// Every outgoing field is checked, most of them a few bytes long, so this is inline and reads
// whole blocks (the last one overlapping the one before) instead of byte by byte.
[[gnu::always_inline]] inline bool HasControlCharacters(std::string_view text) {
  using namespace control_detail;
  const char* data = text.data();
  const std::size_t size = text.size();
#if defined(__SSE2__)
  if (size >= 16) {
    for (std::size_t at = 0; at + 16 < size; at += 16) {
      if (controlIn16(data + at)) return true;
    }
    return controlIn16(data + size - 16);
  }
#endif
  if (size >= 8) {
    for (std::size_t at = 0; at + 8 < size; at += 8) {
      if (controlInWord(load64(data + at))) return true;
    }
    return controlInWord(load64(data + size - 8));
  }
  if (size >= 4) return controlInWord(load32(data) | (load32(data + size - 4) << 32));
  if (size == 0) return false;
  // One to three bytes: the first, the middle and the last cover them all.
  const auto byte = [data](std::size_t at) {
    return static_cast<std::uint64_t>(static_cast<unsigned char>(data[at]));
  };
  // The five bytes above them are letters, which never count.
  return controlInWord(byte(0) | byte(size / 2) << 8 | byte(size - 1) << 16 |
                       0x4141414141000000ULL);
}

}  // namespace rovalink::xap
