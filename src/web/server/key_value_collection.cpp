#include "web/server/key_value_collection.h"

#include <utility>

#include "settings/ascii_case.h"

namespace rovalink::web {

bool KeyValueCollection::Add(std::string key, std::string value) {
  const auto [where, added] = m_index.emplace(settings::toLowerAscii(key), m_items.size());
  if (!added) return false;
  m_items.push_back(KeyValuePair{std::move(key), std::move(value)});
  return true;
}

const KeyValuePair* KeyValueCollection::find(std::string_view key) const {
  const auto found = m_index.find(settings::toLowerAscii(key));
  return found != m_index.end() ? &m_items[found->second] : nullptr;
}

std::string KeyValueCollection::value(std::string_view key) const {
  const KeyValuePair* item = find(key);
  return item != nullptr ? item->Value : std::string();
}

}  // namespace rovalink::web
