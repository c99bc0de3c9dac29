#include "xap/xap_message.h"

#include <algorithm>

#include "platform/diag.h"
#include "xap/ascii_case.h"
#include "xap/error_log.h"
#include "xap/packed_items.h"

namespace rovalink::xap {
namespace {

// Every field written goes through here: an LF or other control character in a value would
// otherwise start a new line, an item or a block of the message.
void addField(FastString& builder, std::string_view text) {
  if (HasControlCharacters(text)) {
    builder.Add(EscapeControlCharacters(text));
  } else {
    builder.Add(text);
  }
}

// Blanks only: a tab or CR is part of the text.
std::string_view trimBlanks(std::string_view text) {
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

std::size_t countElements(std::string_view address) {
  return static_cast<std::size_t>(std::count(address.begin(), address.end(), '.')) + 1;
}

}  // namespace

namespace {
const std::string& itemName(const XapItem& item) {
  return item.name;
}
const std::string& sectionName(const XapSection& section) {
  return section.name();
}
}  // namespace

const std::string* XapSection::find(std::string_view lowerName) const {
  const auto position = m_index.find(m_items, itemName, lowerName);
  return position == XapNameIndex::npos ? nullptr : &m_items[position].line;
}

bool XapSection::add(std::string lowerName, std::string_view line) {
  if (m_index.find(m_items, itemName, lowerName) != XapNameIndex::npos) return false;
  if (m_items.empty()) m_items.reserve(4);
  m_items.push_back({std::move(lowerName), std::string(line)});
  m_index.added(m_items, itemName);
  return true;
}

XapMessage::XapMessage(ErrorLog* errorLog) : m_errorLog(errorLog) {}

int XapMessage::Init(std::string_view /*sMessage*/) {
  m_builder.Reset();
  return 0;
}

int XapMessage::AddHeader() {
  m_builder.Add(kHeaderStart);
  addField(m_builder, m_msgUID);
  m_builder.Add("\nclass=");
  addField(m_builder, m_msgClass);
  m_builder.Add("\nsource=");
  addField(m_builder, m_msgSource);
  m_builder.Add('\n');
  if (!m_msgTarget.empty()) {
    m_builder.Add("target=");
    addField(m_builder, m_msgTarget);
    m_builder.Add('\n');
  }
  m_builder.Add("}\n");
  m_sectionOpen = false;
  return 0;
}

int XapMessage::AddSection(std::string_view sSection) {
  if (m_sectionOpen) m_builder.Add("}\n");
  addField(m_builder, sSection);
  m_builder.Add("\n{\n");
  m_sectionOpen = true;
  return 0;
}

int XapMessage::AddItem(std::string_view /*sSection*/, std::string_view sItem,
                        std::string_view sValue) {
  addField(m_builder, sItem);
  m_builder.Add('=');
  addField(m_builder, sValue);
  m_builder.Add('\n');
  return 0;
}

std::string XapMessage::ToXap() const {
  std::string text;
  text.reserve(m_builder.Value().size() + 2);
  text.append(m_builder.Value());
  text.append("}\n");
  return text;
}

int XapMessage::FromXap(std::string_view sRawMessage) {
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

std::string XapMessage::GetItem(std::string_view sSection, std::string_view sItem) const {
  const auto position = m_sectionIndex.find(m_sections, sectionName, toLowerAscii(sSection));
  if (position == XapNameIndex::npos) return "Unknown";
  const std::string* line = m_sections[position].find(toLowerAscii(sItem));
  if (line == nullptr) return "Unknown";
  return line->substr(line->find('=') + 1);
}

std::vector<std::string> XapMessage::MsgSection() const {
  if (m_sections.empty()) return {std::string()};
  std::vector<std::string> names;
  names.reserve(m_sections.size() - 1);
  // The last entry is the one opened by the closing "}" of the last real section.
  for (std::size_t i = 0; i + 1 < m_sections.size(); ++i) names.push_back(m_sections[i].name());
  return names;
}

const XapSection* XapMessage::msgCollection(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_sections.size()) return nullptr;
  return &m_sections[static_cast<std::size_t>(index)];
}

bool XapMessage::CompareAddress(std::string_view sItem1, std::string_view sItem2) {
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

bool XapMessage::CompareClass(std::string_view sClass) const {
  return equalsNoCase(sClass, m_msgClass);
}

bool XapMessage::CompareSource(std::string_view sSource) const {
  return CompareAddress(sSource, m_msgSource);
}

bool XapMessage::CompareTarget(std::string_view sTarget) const {
  return CompareAddress(sTarget, m_msgTarget);
}

void XapMessage::logParseError(const std::string& description) const {
  if (m_errorLog != nullptr) {
    m_errorLog->LogError("From XAP", "", description);
  } else {
    diag::warning("From XAP: " + description);
  }
}

}  // namespace rovalink::xap
