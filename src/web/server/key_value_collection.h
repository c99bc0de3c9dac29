#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "web/server/key_value_pair.h"

namespace rovalink::web {

// Fields in arrival order, looked up by key without regard to ASCII letter case. A repeated key
// is refused: the first entry stays.
class KeyValueCollection {
 public:
  using const_iterator = std::vector<KeyValuePair>::const_iterator;

  // False (nothing added) when the key is already present.
  bool Add(std::string key, std::string value);
  // The entry with that key, or nullptr.
  const KeyValuePair* find(std::string_view key) const;
  // The entry's value, or empty text.
  std::string value(std::string_view key) const;

  std::size_t size() const { return m_items.size(); }
  bool empty() const { return m_items.empty(); }
  const_iterator begin() const { return m_items.begin(); }
  const_iterator end() const { return m_items.end(); }

 private:
  std::vector<KeyValuePair> m_items;
  // Lower-cased key to position: a body may carry many thousands of fields.
  std::unordered_map<std::string, std::size_t> m_index;
};

}  // namespace rovalink::web
