#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rovalink::xap {

class ErrorLog;

// A vector that keeps its first N elements inside the object, so the usual small message needs
// no allocation.
template <typename T, std::size_t N>
class SmallVector {
 public:
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  const T* data() const { return m_heap.empty() ? m_inline : m_heap.data(); }
  const T& operator[](std::size_t i) const { return data()[i]; }
  T& back() { return (m_heap.empty() ? m_inline : m_heap.data())[m_size - 1]; }
  T& operator[](std::size_t i) { return (m_heap.empty() ? m_inline : m_heap.data())[i]; }
  const T& back() const { return data()[m_size - 1]; }

  void push_back(T value) {
    if (m_size < N) {
      m_inline[m_size++] = std::move(value);
      return;
    }
    if (m_heap.empty()) m_heap.assign(m_inline, m_inline + N);
    m_heap.push_back(std::move(value));
    ++m_size;
  }

 private:
  T m_inline[N] = {};
  std::vector<T> m_heap;  // every element once more than N
  std::size_t m_size = 0;
};

// Finds an entry by name, letter case ignored, through a hash table of case-folded names: the
// index an owner builds once it has more than kLinearLimit entries (fewer are scanned), so a
// hostile datagram cannot make parsing quadratic. nameOf(i) gives entry i's name.
class XapNameIndex {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  static constexpr std::size_t kLinearLimit = 16;

  bool empty() const { return m_slots.empty(); }
  template <typename NameOf>
  std::size_t find(NameOf nameOf, std::string_view name) const;
  // To be called after each entry the owner appends once it has more than kLinearLimit
  // (count is the new number of entries).
  template <typename NameOf>
  void added(std::size_t count, NameOf nameOf);

  static std::uint32_t foldedHash(std::string_view name);

  // ASCII letter case ignored. Names usually arrive in the case they are asked for, so whole
  // words are compared first and only differing words letter by letter.
  static bool equalFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const char* p = a.data();
    const char* q = b.data();
    const std::size_t n = a.size();
    if (n >= 8) {
      for (std::size_t i = 0; i + 8 <= n; i += 8) {
        if (!equalWord(p + i, q + i)) return false;
      }
      return (n % 8) == 0 || equalWord(p + n - 8, q + n - 8);
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (p[i] != q[i] && !sameLetter(p[i], q[i])) return false;
    }
    return true;
  }
  static char fold(char c) { return isLetter(c) ? static_cast<char>(c | 0x20) : c; }
  static bool isLetter(char c) { return static_cast<unsigned char>((c | 0x20) - 'a') < 26; }
  // Two different characters that are the same letter in different case.
  static bool sameLetter(char a, char b) { return (a | 0x20) == (b | 0x20) && isLetter(a); }

 private:
  static bool equalWord(const char* p, const char* q) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, p, 8);
    std::memcpy(&y, q, 8);
    if (x == y) return true;
    for (int i = 0; i < 8; ++i) {
      if (p[i] != q[i] && !sameLetter(p[i], q[i])) return false;
    }
    return true;
  }
  template <typename NameOf>
  void insert(std::uint32_t entry, NameOf nameOf);

  std::vector<std::uint32_t> m_slots;  // entry number + 1; 0 is free; a power of two long
};

// One item of a parsed section: its lower-case trimmed name and its raw line.
struct XapItem {
  std::string name;
  std::string_view line;
};

class XapMessage;

// One parsed body section, seen through its message (valid while the message lives unchanged).
class XapSection {
 public:
  XapSection(const XapMessage& message, std::size_t index) : m_message(&message), m_index(index) {}

  // The lower-case, untrimmed name.
  std::string name() const;
  // The items in arrival order.
  std::vector<XapItem> items() const;
  // The raw line of the item with that name (letter case ignored), or nothing.
  std::optional<std::string_view> find(std::string_view itemName) const;

 private:
  const XapMessage* m_message;
  std::size_t m_index;
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
  std::string ToXap() const&;
  // The same for a message built only to be sent: its buffer becomes the text, uncopied, and the
  // body is dropped as by Init.
  std::string ToXap() &&;
  void Reset() {}

  // Parsing.
  int FromXap(std::string_view sRawMessage);
  // Everything after the first "=" of the item's raw line; "Unknown" when the section or item
  // is missing. Section and item names match regardless of letter case.
  std::string GetItem(std::string_view sSection, std::string_view sItem) const;
  // Lower-case body section names in message order.
  std::vector<std::string> MsgSection() const;
  // The parsed section with that number, or nothing.
  std::optional<XapSection> msgCollection(int index) const;

  bool CompareClass(std::string_view sClass) const;
  bool CompareSource(std::string_view sSource) const;
  bool CompareTarget(std::string_view sTarget) const;
  // The xAP address rule: "*" matches one element, ">" the rest, letter case ignored.
  static bool CompareAddress(std::string_view sItem1, std::string_view sItem2);

  // A parsed value points into the message's copy of the text: valid while the message lives.
  std::string_view MsgClass() const { return header(kClass, m_msgClass); }
  std::string_view MsgTarget() const { return header(kTarget, m_msgTarget); }
  std::string_view msgSource() const { return header(kSource, m_msgSource); }
  std::string_view MsgUID() const { return header(kUid, m_msgUID); }
  void setMsgClass(std::string value) { setHeader(kClass, m_msgClass, std::move(value)); }
  void setMsgTarget(std::string value) { setHeader(kTarget, m_msgTarget, std::move(value)); }
  void setMsgSource(std::string value) { setHeader(kSource, m_msgSource, std::move(value)); }
  void setMsgUID(std::string value) { setHeader(kUid, m_msgUID, std::move(value)); }

  // The lines every message starts with, up to the uid value.
  static constexpr std::string_view kHeaderStart = "xap-header\n{\nv=13\nhop=1\nuid=";
  // Line numbers are counted in 16 bits: a longer text is parsed up to here, then rejected.
  static constexpr int kMaxLineNumber = 32767;

 private:
  friend class XapSection;

  // A piece of the parsed text, by position, so the message can be copied or moved freely.
  struct Span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
  };
  struct Item {
    Span name;  // trimmed, as received
    Span line;
    Span value;  // everything after the first "=" of the line
  };
  struct Section {
    Span name;  // untrimmed, as received
    std::uint32_t firstItem = 0;
    std::uint32_t itemCount = 0;
    std::uint32_t itemIndex = 0;  // 1 + its number in m_itemIndexes once it has many items
    std::uint64_t itemBits = 0;   // nameBit of every item name: most new names skip the scan
  };

  // One of 64 bits chosen by a name's length and folded first letter: names with different bits
  // differ, so a repeat check needs a scan only when the bit is already set.
  static std::uint64_t nameBit(std::string_view name) {
    const unsigned first =
        name.empty() ? 0u : static_cast<unsigned char>(XapNameIndex::fold(name[0]));
    return std::uint64_t{1} << ((first * 7u + name.size()) & 63u);
  }

  enum HeaderField { kUid, kClass, kSource, kTarget };

  // Building: the text is written into m_built, kept larger than the text (m_builtLength bytes
  // are written), so each piece costs one room check and one copy.
  void append(std::string_view piece);
  // An LF or other control character in a field would otherwise start a new line, an item or a
  // block of the message.
  void appendField(std::string_view field);

  std::string_view view(Span span) const { return {m_text.data() + span.offset, span.length}; }
  std::string_view header(HeaderField field, const std::string& set) const {
    return (m_parsedHeaders & (1u << field)) != 0 ? view(m_headers[field]) : set;
  }
  void setHeader(HeaderField field, std::string& stored, std::string value) {
    stored = std::move(value);
    m_parsedHeaders &= ~(1u << field);
  }
  std::size_t findSection(std::string_view name) const;
  std::size_t findItem(const Section& section, std::string_view name) const;
  // False (after logging) when the name repeats an earlier one.
  bool addSection(Span name);
  bool addItem(Span name, Span line, Span value);
  void logParseError(const std::string& description) const;

  ErrorLog* m_errorLog;
  std::string m_built;
  std::size_t m_builtLength = 0;
  std::string m_msgClass = "Unknown";
  std::string m_msgTarget = "Unknown";
  std::string m_msgSource = "Unknown";
  std::string m_msgUID = "Unknown";
  std::string m_text;  // the one copy of the parsed text that sections and items point into
  Span m_headers[4];   // header values read from the text, by HeaderField
  unsigned m_parsedHeaders = 0;  // bit per HeaderField: the value comes from m_headers
  SmallVector<Section, 4> m_sections;
  SmallVector<Item, 12> m_items;  // every section's items, section after section
  XapNameIndex m_sectionIndex;
  std::uint64_t m_sectionBits = 0;          // nameBit of every section name
  std::vector<XapNameIndex> m_itemIndexes;  // of the sections with many items
  bool m_sectionOpen = false;
  bool m_hasSections = false;
};

}  // namespace rovalink::xap
