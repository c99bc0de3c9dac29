// The xAP message parser as it was before the gateway's parser was reworked to point into one
// copy of the text: kept only so xap_bench can compare both on the same messages in one run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xap/ascii_case.h"
#include "xap/fast_string.h"

namespace rovalink::bench::before {

using xap::containsNoCase;
using xap::equalsNoCase;
using xap::toLowerAscii;

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

class XapMessage {
 public:
  int FromXap(std::string_view sRawMessage);
  std::string GetItem(std::string_view sSection, std::string_view sItem) const;
  bool CompareClass(std::string_view sClass) const { return equalsNoCase(sClass, m_msgClass); }
  bool CompareTarget(std::string_view sTarget) const {
    return CompareAddress(sTarget, m_msgTarget);
  }
  static bool CompareAddress(std::string_view sItem1, std::string_view sItem2);
  static constexpr int kMaxLineNumber = 32767;

 private:
  void logParseError(const std::string&) const {}

  void* m_errorLog = nullptr;
  xap::FastString m_builder;
  std::string m_msgClass = "Unknown";
  std::string m_msgTarget = "Unknown";
  std::string m_msgSource = "Unknown";
  std::string m_msgUID = "Unknown";
  std::vector<XapSection> m_sections;
  XapNameIndex m_sectionIndex;
  bool m_hasSections = false;
};

namespace detail {
// Blanks only: a tab or CR is part of the text.
inline std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// Walks a text line by line; only LF separates lines, and the text after the last LF is a line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : m_text(text) {}

  bool done() const { return m_done; }
  std::string_view next() {
    const auto end = m_text.find('\n', m_pos);
    if (end == std::string_view::npos) {
      m_done = true;
      return m_text.substr(m_pos);
    }
    const auto line = m_text.substr(m_pos, end - m_pos);
    m_pos = end + 1;
    return line;
  }

 private:
  std::string_view m_text;
  std::size_t m_pos = 0;
  bool m_done = false;
};

// Yields the "."-separated elements of an address in order; "a." has two elements.
class AddressElements {
 public:
  explicit AddressElements(std::string_view address) : m_rest(address) {}

  bool next(std::string_view& element) {
    if (m_finished) return false;
    const auto dot = m_rest.find('.');
    if (dot == std::string_view::npos) {
      element = m_rest;
      m_finished = true;
    } else {
      element = m_rest.substr(0, dot);
      m_rest.remove_prefix(dot + 1);
    }
    return true;
  }

 private:
  std::string_view m_rest;
  bool m_finished = false;
};

inline std::size_t countElements(std::string_view address) {
  return static_cast<std::size_t>(std::count(address.begin(), address.end(), '.')) + 1;
}

inline const std::string& itemName(const XapItem& item) {
  return item.name;
}
inline const std::string& sectionName(const XapSection& section) {
  return section.name();
}
}  // namespace detail

using namespace detail;

inline const std::string* XapSection::find(std::string_view lowerName) const {
  const auto position = m_index.find(m_items, itemName, lowerName);
  return position == XapNameIndex::npos ? nullptr : &m_items[position].line;
}

inline bool XapSection::add(std::string lowerName, std::string_view line) {
  if (m_index.find(m_items, itemName, lowerName) != XapNameIndex::npos) return false;
  if (m_items.empty()) m_items.reserve(4);
  m_items.push_back({std::move(lowerName), std::string(line)});
  m_index.added(m_items, itemName);
  return true;
}

inline int XapMessage::FromXap(std::string_view sRawMessage) {
  if (sRawMessage.empty()) return 0;
  LineReader lines(sRawMessage);
  if (!containsNoCase(lines.next(), "xap-header")) return 0;
  if (lines.done()) return 0;
  lines.next();  // the "{" of the header, never read

  int lineNumber = 2;
  bool inHeader = true;
  // Each step reports whether parsing may go on; a failure is logged once, then parsing ends
  // with everything read so far kept.
  const auto fail = [this](const std::string& description) {
    logParseError(description);
    return 0;
  };
  const auto advance = [&lineNumber]() {
    if (lineNumber == kMaxLineNumber) return false;
    ++lineNumber;
    return true;
  };

  while (!lines.done()) {
    const std::string_view line = lines.next();
    if (line == "}") {
      // Every "}" opens a section named by the next line, including the final one.
      if (lines.done()) return fail("a \"}\" on the last line has no section name after it");
      if (!advance()) return fail("more lines than can be numbered");
      std::string name = toLowerAscii(lines.next());
      if (m_sectionIndex.find(m_sections, sectionName, name) != XapNameIndex::npos) {
        return fail("section \"" + name + "\" appears twice");
      }
      if (m_sections.empty()) m_sections.reserve(4);
      m_sections.emplace_back(std::move(name));
      m_sectionIndex.added(m_sections, sectionName);
      m_hasSections = true;
      inHeader = false;
    } else if (const auto eq = line.find('='); eq != std::string_view::npos) {
      const std::string_view name = trimBlanks(line.substr(0, eq));
      if (inHeader) {
        const std::string_view value = trimBlanks(line.substr(eq + 1));
        if (equalsNoCase(name, "uid")) {
          m_msgUID.assign(value);
        } else if (equalsNoCase(name, "class")) {
          m_msgClass.assign(value);
        } else if (equalsNoCase(name, "source")) {
          m_msgSource.assign(value);
        } else if (equalsNoCase(name, "target")) {
          m_msgTarget.assign(value);
        }
      } else {
        XapSection& section = m_sections.back();
        if (!section.add(toLowerAscii(name), line)) {
          return fail("item \"" + toLowerAscii(name) + "\" appears twice in section \"" +
                      section.name() + "\"");
        }
      }
    }
    if (!advance()) return fail("more lines than can be numbered");
  }
  return 0;
}

inline std::string XapMessage::GetItem(std::string_view sSection, std::string_view sItem) const {
  const auto position = m_sectionIndex.find(m_sections, sectionName, toLowerAscii(sSection));
  if (position == XapNameIndex::npos) return "Unknown";
  const std::string* line = m_sections[position].find(toLowerAscii(sItem));
  if (line == nullptr) return "Unknown";
  return line->substr(line->find('=') + 1);
}

inline bool XapMessage::CompareAddress(std::string_view sItem1, std::string_view sItem2) {
  if (sItem1.empty() || sItem2.empty()) return false;
  const bool sameLength = countElements(sItem1) == countElements(sItem2);
  AddressElements left(sItem1);
  AddressElements right(sItem2);
  std::string_view a;
  std::string_view b;
  // Positions up to the shorter address only; ">" decides only once every earlier one matched.
  while (left.next(a) && right.next(b)) {
    if (a == ">" || b == ">") return true;
    if (a != "*" && b != "*" && !equalsNoCase(a, b)) return false;
  }
  return sameLength;
}

}  // namespace rovalink::bench::before
