#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

namespace rovalink::xap {

// Collects outgoing text piece by piece and hands it out joined. Appends are amortised O(1):
// the text is never copied as a whole while it grows.
class FastString {
 public:
  void Add(std::string_view value) {
    prepare();
    m_text.append(value);
  }
  void Add(const char* value) { Add(std::string_view(value)); }
  void Add(char value) {
    prepare();
    m_text.push_back(value);
  }
  template <std::integral T>
  requires(!std::same_as<T, char> && !std::same_as<T, bool>) void Add(T value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    prepare();
    m_text.append(digits, result.ptr);
  }

  const std::string& Value() const { return m_text; }
  void Reset() { m_text.clear(); }

 private:
  // Storage is taken on first use, so a message object that only parses never allocates it.
  void prepare() {
    if (m_text.capacity() < kInitialCapacity) m_text.reserve(kInitialCapacity);
  }

  // Room for a typical status message, so most messages never reallocate.
  static constexpr std::size_t kInitialCapacity = 256;

  std::string m_text;
};

}  // namespace rovalink::xap
