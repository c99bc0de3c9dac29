#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xap/fast_string.h"

namespace rovalink::xap {

class ErrorLog;

// Lookup of an owner's entries by exact name: a linear scan while there are few (the usual
// case, and no copies), a hash table once there are many, so a hostile datagram cannot make
// parsing quadratic. The owner keeps the entries; nameOf(entry) gives an entry's name.
class XapNameIndex {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  template <typename Entries, typename NameOf>
  std::size_t find(const Entries& entries, NameOf nameOf, std::string_view name) const {
    if (!m_hashed.empty()) {
      const auto it = m_hashed.find(name);
      return it == m_hashed.end() ? npos : it->second;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (nameOf(entries[i]) == name) return i;
    }
    return npos;
  }

  // To be called after each entry the owner appends.
  template <typename Entries, typename NameOf>
  void added(const Entries& entries, NameOf nameOf) {
    if (entries.size() <= kLinearLimit) return;
    if (m_hashed.empty()) {
      for (std::size_t i = 0; i < entries.size(); ++i) m_hashed.emplace(nameOf(entries[i]), i);
    } else {
      m_hashed.emplace(nameOf(entries.back()), entries.size() - 1);
    }
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
      return std::hash<std::string_view>{}(text);
    }
  };
  static constexpr std::size_t kLinearLimit = 16;

  std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> m_hashed;
};

// One body item as received: the lower-case trimmed name and the whole raw line.
struct XapItem {
  std::string name;
  std::string line;
};

// One parsed body section: its lower-case (untrimmed) name and its items in arrival order.
class XapSection {
 public:
  explicit XapSection(std::string name) : m_name(std::move(name)) {}

  const std::string& name() const { return m_name; }
  const std::vector<XapItem>& items() const { return m_items; }

  // The raw line stored under the lower-case name, or nullptr.
  const std::string* find(std::string_view lowerName) const;
  // False (and nothing stored) when the name is already present.
  bool add(std::string lowerName, std::string_view line);

 private:
  std::string m_name;
  std::vector<XapItem> m_items;
  XapNameIndex m_index;
};

// One xAP message: either parsed from received text (FromXap, then the queries) or built for
// sending (Init, header properties, AddHeader, AddSection/AddItem, ToXap).
class XapMessage {
 public:
  // Parse failures go to errorLog ("From XAP"); without one they go to the diagnostics.
  explicit XapMessage(ErrorLog* errorLog = nullptr);

  // Building. All return 0, as callers of the message object expect.
  int Init(std::string_view sMessage = {});
  int AddHeader();
  int AddSection(std::string_view sSection);
  // The item always goes into the section opened last; sSection is not used.
  int AddItem(std::string_view sSection, std::string_view sItem, std::string_view sValue);
  // The text built so far with the last section closed. Repeatable: nothing is cleared.
  std::string ToXap() const;
  void Reset() {}

  // Parsing.
  int FromXap(std::string_view sRawMessage);
  // Everything after the first "=" of the item's raw line; "Unknown" when the section or item
  // is missing. Section and item names match regardless of letter case.
  std::string GetItem(std::string_view sSection, std::string_view sItem) const;
  // Lower-case body section names in message order.
  std::vector<std::string> MsgSection() const;
  // The parsed section with that number, or nullptr.
  const XapSection* msgCollection(int index) const;

  bool CompareClass(std::string_view sClass) const;
  bool CompareSource(std::string_view sSource) const;
  bool CompareTarget(std::string_view sTarget) const;
  // The xAP address rule: "*" matches one element, ">" the rest, letter case ignored.
  static bool CompareAddress(std::string_view sItem1, std::string_view sItem2);

  const std::string& MsgClass() const { return m_msgClass; }
  const std::string& MsgTarget() const { return m_msgTarget; }
  const std::string& msgSource() const { return m_msgSource; }
  const std::string& MsgUID() const { return m_msgUID; }
  void setMsgClass(std::string value) { m_msgClass = std::move(value); }
  void setMsgTarget(std::string value) { m_msgTarget = std::move(value); }
  void setMsgSource(std::string value) { m_msgSource = std::move(value); }
  void setMsgUID(std::string value) { m_msgUID = std::move(value); }

  // The lines every message starts with, up to the uid value.
  static constexpr std::string_view kHeaderStart = "xap-header\n{\nv=13\nhop=1\nuid=";
  // Line numbers are counted in 16 bits: a longer text is parsed up to here, then rejected.
  static constexpr int kMaxLineNumber = 32767;

 private:
  void logParseError(const std::string& description) const;

  ErrorLog* m_errorLog;
  FastString m_builder;
  std::string m_msgClass = "Unknown";
  std::string m_msgTarget = "Unknown";
  std::string m_msgSource = "Unknown";
  std::string m_msgUID = "Unknown";
  std::vector<XapSection> m_sections;
  XapNameIndex m_sectionIndex;
  bool m_sectionOpen = false;
  bool m_hasSections = false;
};

}  // namespace rovalink::xap
