#include "xap/xap_message.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/diag.h"
#include "xap/ascii_case.h"
#include "xap/error_log.h"
#include "xap/packed_items.h"

namespace rovalink::xap {
namespace {

// Blanks only: a tab or CR is part of the text.
inline std::string_view trimBlanks(std::string_view text) {
  if (text.empty() || (text.front() != ' ' && text.back() != ' ')) return text;
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && text[first] == ' ') ++first;
  while (last > first && text[last - 1] == ' ') --last;
  return text.substr(first, last - first);
}

}  // namespace

std::uint32_t XapNameIndex::foldedHash(std::string_view name) {
  std::uint32_t hash = 2166136261u;
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(lowerAscii(c))) * 16777619u;
  return hash;
}

template <typename NameOf>
std::size_t XapNameIndex::find(NameOf nameOf, std::string_view name) const {
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t slot = foldedHash(name) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = m_slots[slot];
    if (entry == 0) return npos;
    if (equalFolded(nameOf(entry - 1), name)) return entry - 1;
  }
}

template <typename NameOf>
void XapNameIndex::insert(std::uint32_t entry, NameOf nameOf) {
  const std::size_t mask = m_slots.size() - 1;
  std::size_t slot = foldedHash(nameOf(entry)) & mask;
  while (m_slots[slot] != 0) slot = (slot + 1) & mask;
  m_slots[slot] = entry + 1;
}

template <typename NameOf>
void XapNameIndex::added(std::size_t count, NameOf nameOf) {
  if (count <= kLinearLimit) return;
  // At most half full, so probes stay short and always end at a free slot.
  if (count * 2 > m_slots.size()) {
    std::size_t size = 64;
    while (size < count * 4) size *= 2;
    m_slots.assign(size, 0);
    for (std::size_t i = 0; i < count; ++i) insert(static_cast<std::uint32_t>(i), nameOf);
  } else {
    insert(static_cast<std::uint32_t>(count - 1), nameOf);
  }
}

std::string XapSection::name() const {
  return toLowerAscii(m_message->view(m_message->m_sections[m_index].name));
}

std::vector<XapItem> XapSection::items() const {
  const auto& section = m_message->m_sections[m_index];
  std::vector<XapItem> items;
  items.reserve(section.itemCount);
  for (std::uint32_t i = 0; i < section.itemCount; ++i) {
    const auto& item = m_message->m_items[section.firstItem + i];
    items.push_back({toLowerAscii(m_message->view(item.name)), m_message->view(item.line)});
  }
  return items;
}

std::optional<std::string_view> XapSection::find(std::string_view itemName) const {
  const auto& section = m_message->m_sections[m_index];
  const std::size_t position = m_message->findItem(section, itemName);
  if (position == XapNameIndex::npos) return std::nullopt;
  return m_message->view(m_message->m_items[section.firstItem + position].line);
}

XapMessage::XapMessage(ErrorLog* errorLog) : m_errorLog(errorLog) {}

int XapMessage::Init(std::string_view /*sMessage*/) {
  m_builtLength = 0;
  return 0;
}

// Inlined by force: called out of line, the calls alone cost as much as the copies.
[[gnu::always_inline]] inline void XapMessage::append(std::string_view piece) {
  if (m_built.size() - m_builtLength < piece.size()) {
    // Room for a typical status message at once, doubling after that.
    m_built.resize(std::max(m_built.size() * 2, m_builtLength + piece.size() + 256));
  }
  if (!piece.empty()) std::memcpy(m_built.data() + m_builtLength, piece.data(), piece.size());
  m_builtLength += piece.size();
}

[[gnu::always_inline]] inline void XapMessage::appendField(std::string_view field) {
  if (HasControlCharacters(field)) [[unlikely]] {
    append(EscapeControlCharacters(field));
  } else {
    append(field);
  }
}

int XapMessage::AddHeader() {
  append(kHeaderStart);
  appendField(MsgUID());
  append("\nclass=");
  appendField(MsgClass());
  append("\nsource=");
  appendField(msgSource());
  append("\n");
  if (!MsgTarget().empty()) {
    append("target=");
    appendField(MsgTarget());
    append("\n");
  }
  append("}\n");
  m_sectionOpen = false;
  return 0;
}

int XapMessage::AddSection(std::string_view sSection) {
  if (m_sectionOpen) append("}\n");
  appendField(sSection);
  append("\n{\n");
  m_sectionOpen = true;
  return 0;
}

int XapMessage::AddItem(std::string_view /*sSection*/, std::string_view sItem,
                        std::string_view sValue) {
  appendField(sItem);
  append("=");
  appendField(sValue);
  append("\n");
  return 0;
}

std::string XapMessage::ToXap() const& {
  std::string text;
  text.reserve(m_builtLength + 2);
  text.append(m_built, 0, m_builtLength);
  text.append("}\n");
  return text;
}

std::string XapMessage::ToXap() && {
  append("}\n");
  m_built.resize(m_builtLength);
  m_builtLength = 0;
  return std::exchange(m_built, {});
}

int XapMessage::FromXap(std::string_view sRawMessage) {
  if (sRawMessage.empty()) return 0;
  // Offsets are 32-bit; a datagram is far below that, a longer text is not a message.
  if (sRawMessage.size() > 0x7FFFFFFFu - m_text.size()) return 0;
  // Appended, not replaced: whatever an earlier parse stored keeps pointing at its own text.
  const std::size_t base = m_text.size();
  m_text.append(sRawMessage);
  const char* const text = m_text.data();
  const std::size_t size = m_text.size();

  // The line that starts at pos: [pos, end), the next line starts at end + 1; the text after the
  // last LF is a line too, and nothing follows it.
  std::size_t pos = base;
  bool done = false;
  const auto nextLine = [&](std::size_t& start) {
    start = pos;
    const void* lf = std::memchr(text + pos, '\n', size - pos);
    if (lf == nullptr) {
      done = true;
      pos = size;
      return size;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - text);
    pos = end + 1;
    return end;
  };

  std::size_t start = 0;
  std::size_t end = nextLine(start);
  const std::string_view marker(text + start, end - start);
  if (!XapNameIndex::equalFolded(marker.substr(0, 10), "xap-header") &&
      !containsNoCase(marker, "xap-header")) {
    return 0;
  }
  if (done) return 0;
  nextLine(start);  // the "{" of the header, never read

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
  const auto span = [](std::size_t from, std::size_t length) {
    return Span{static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(length)};
  };

  while (!done) {
    end = nextLine(start);
    const std::size_t length = end - start;
    if (length == 1 && text[start] == '}') {
      // Every "}" opens a section named by the next line, including the final one.
      if (done) return fail("a \"}\" on the last line has no section name after it");
      if (!advance()) return fail("more lines than can be numbered");
      end = nextLine(start);
      if (!addSection(span(start, end - start))) return 0;
      inHeader = false;
    } else {
      std::size_t eq = start;
      while (eq < end && text[eq] != '=') ++eq;
      if (eq < end) {
        const std::string_view name = trimBlanks(std::string_view(text + start, eq - start));
        if (inHeader) {
          const std::string_view value = trimBlanks(std::string_view(text + eq + 1, end - eq - 1));
          const auto field = [&name]() -> int {
            using I = XapNameIndex;
            switch (name.size()) {
              case 3:
                return I::equalFolded(name, "uid") ? kUid : -1;
              case 5:
                return I::equalFolded(name, "class") ? kClass : -1;
              case 6:
                return I::equalFolded(name, "source")   ? kSource
                       : I::equalFolded(name, "target") ? kTarget
                                                        : -1;
              default:
                return -1;
            }
          }();
          if (field >= 0) {
            m_headers[field] = span(static_cast<std::size_t>(value.data() - text), value.size());
            m_parsedHeaders |= 1u << field;
          }
        } else if (!addItem(span(static_cast<std::size_t>(name.data() - text), name.size()),
                            span(start, length), span(eq + 1, end - eq - 1))) {
          return 0;
        }
      }
    }
    if (!advance()) return fail("more lines than can be numbered");
  }
  return 0;
}

bool XapMessage::addSection(Span nameSpan) {
  const std::string_view name = view(nameSpan);
  const std::uint64_t bit = nameBit(name);
  if ((m_sectionBits & bit) != 0 && findSection(name) != XapNameIndex::npos) {
    logParseError("section \"" + toLowerAscii(name) + "\" appears twice");
    return false;
  }
  m_sectionBits |= bit;
  Section section;
  section.name = nameSpan;
  section.firstItem = static_cast<std::uint32_t>(m_items.size());
  m_sections.push_back(section);
  if (m_sections.size() > XapNameIndex::kLinearLimit) {
    m_sectionIndex.added(m_sections.size(),
                         [this](std::size_t i) { return view(m_sections[i].name); });
  }
  m_hasSections = true;
  return true;
}

bool XapMessage::addItem(Span nameSpan, Span line, Span value) {
  Section& section = m_sections.back();
  const std::string_view name = view(nameSpan);
  const std::uint64_t bit = nameBit(name);
  if ((section.itemBits & bit) != 0 && findItem(section, name) != XapNameIndex::npos) {
    logParseError("item \"" + toLowerAscii(name) + "\" appears twice in section \"" +
                  toLowerAscii(view(section.name)) + "\"");
    return false;
  }
  section.itemBits |= bit;
  m_items.push_back(Item{nameSpan, line, value});
  ++section.itemCount;
  if (section.itemCount > XapNameIndex::kLinearLimit) {
    if (section.itemIndex == 0) {
      m_itemIndexes.emplace_back();
      section.itemIndex = static_cast<std::uint32_t>(m_itemIndexes.size());
    }
    const std::uint32_t first = section.firstItem;
    m_itemIndexes[section.itemIndex - 1].added(
        section.itemCount, [this, first](std::size_t i) { return view(m_items[first + i].name); });
  }
  return true;
}

std::size_t XapMessage::findSection(std::string_view name) const {
  if (!m_sectionIndex.empty()) {
    return m_sectionIndex.find([this](std::size_t i) { return view(m_sections[i].name); }, name);
  }
  for (std::size_t i = 0; i < m_sections.size(); ++i) {
    const Span candidate = m_sections[i].name;
    if (candidate.length == name.size() && XapNameIndex::equalFolded(view(candidate), name)) {
      return i;
    }
  }
  return XapNameIndex::npos;
}

std::size_t XapMessage::findItem(const Section& section, std::string_view name) const {
  const Item* items = m_items.data() + section.firstItem;
  if (section.itemIndex != 0) {
    return m_itemIndexes[section.itemIndex - 1].find(
        [this, items](std::size_t i) { return view(items[i].name); }, name);
  }
  for (std::size_t i = 0; i < section.itemCount; ++i) {
    const Span candidate = items[i].name;
    if (candidate.length == name.size() && XapNameIndex::equalFolded(view(candidate), name)) {
      return i;
    }
  }
  return XapNameIndex::npos;
}

std::string XapMessage::GetItem(std::string_view sSection, std::string_view sItem) const {
  const std::size_t sectionNumber = findSection(sSection);
  if (sectionNumber == XapNameIndex::npos) return "Unknown";
  const Section& section = m_sections[sectionNumber];
  const std::size_t position = findItem(section, sItem);
  if (position == XapNameIndex::npos) return "Unknown";
  return std::string(view(m_items[section.firstItem + position].value));
}

std::vector<std::string> XapMessage::MsgSection() const {
  if (m_sections.empty()) return {std::string()};
  std::vector<std::string> names;
  names.reserve(m_sections.size() - 1);
  // The last entry is the one opened by the closing "}" of the last real section.
  for (std::size_t i = 0; i + 1 < m_sections.size(); ++i) {
    names.push_back(toLowerAscii(view(m_sections[i].name)));
  }
  return names;
}

std::optional<XapSection> XapMessage::msgCollection(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_sections.size()) return std::nullopt;
  return XapSection(*this, static_cast<std::size_t>(index));
}

bool XapMessage::CompareAddress(std::string_view sItem1, std::string_view sItem2) {
  if (sItem1.empty() || sItem2.empty()) return false;
  const char* a = sItem1.data();
  const char* b = sItem2.data();
  const std::size_t na = sItem1.size();
  const std::size_t nb = sItem2.size();
  // Whether the element at i is exactly the one character c.
  const auto only = [](const char* s, std::size_t n, std::size_t i, char c) {
    return i < n && s[i] == c && (i + 1 == n || s[i + 1] == '.');
  };
  // One pass over both, element by element: ">" decides only once every earlier element
  // matched, and only positions up to the shorter address are compared.
  std::size_t i = 0;
  std::size_t j = 0;
  for (;;) {
    if (only(a, na, i, '>') || only(b, nb, j, '>')) return true;
    if (only(a, na, i, '*') || only(b, nb, j, '*')) {
      while (i < na && a[i] != '.') ++i;
      while (j < nb && b[j] != '.') ++j;
    } else {
      for (; i < na && a[i] != '.'; ++i, ++j) {
        if (j == nb || (a[i] != b[j] && !XapNameIndex::sameLetter(a[i], b[j]))) return false;
      }
      if (j < nb && b[j] != '.') return false;
    }
    const bool lastA = i == na;
    const bool lastB = j == nb;
    if (lastA || lastB) return lastA && lastB;
    ++i;
    ++j;
  }
}

bool XapMessage::CompareClass(std::string_view sClass) const {
  return XapNameIndex::equalFolded(sClass, MsgClass());
}

bool XapMessage::CompareSource(std::string_view sSource) const {
  return CompareAddress(sSource, msgSource());
}

bool XapMessage::CompareTarget(std::string_view sTarget) const {
  return CompareAddress(sTarget, MsgTarget());
}

void XapMessage::logParseError(const std::string& description) const {
  if (m_errorLog != nullptr) {
    m_errorLog->LogError("From XAP", "", description);
  } else {
    diag::warning("From XAP: " + description);
  }
}

}  // namespace rovalink::xap
