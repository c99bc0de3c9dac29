#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/services.h"

namespace rovalink::settings {

// Writes content into the new, empty file at path. Returns false with a reason
// in error when any step fails (a partial file may remain; the caller removes it).
using FileWriter =
    std::function<bool(const std::string& path, std::string_view content, std::string& error)>;

// The writer Save uses unless told otherwise: writes and syncs to disk; never through a link.
bool writeFileToDisk(const std::string& path, std::string_view content, std::string& error);

// In-memory store of one INI file, read and changed the way the Windows profile API does it:
// names match without regard to letter case, blanks around names and values do not count, the
// first value of a key in a file wins, and Save changes only the lines of the keys written
// (every other byte of the file, comments and line ends included, stays as it was).
class IniTool {
 public:
  explicit IniTool(Services& services, FileWriter writer = writeFileToDisk);

  // A settings file larger than this is not loaded (its values read as their defaults).
  static constexpr std::uintmax_t kMaxFileBytes = 1024 * 1024;

  // Empties the store and reads the file at fPath; a missing file is created empty (with its
  // folders). Returns false, with the store empty, when the file cannot be created or read or
  // is larger than kMaxFileBytes. Of the lines that are no value, section or comment, the first
  // kMaxReportedBadLines are reported one by one, the rest counted in one event.
  bool Load(const std::string& fPath);

  // The stored value, or defaultvalue when there is none or it is empty text.
  std::string Read(std::string_view header, std::string_view Key,
                   std::string_view defaultvalue) const;

  // True when the key is stored with exactly this value (also an empty one).
  bool Holds(std::string_view header, std::string_view Key, std::string_view value) const;

  // Changes the key's line in place, or adds it after the last value of its section, or adds
  // the section at the end. Returns false, changing nothing, for a name or value that would not
  // read back as one line (a line break, "=" in the key, "]" in the section).
  bool WriteKey(std::string_view header, std::string_view Key, std::string_view newValue);

  // Drops the key's lines.
  void Remove(std::string_view header, std::string_view Key);

  // Drops every value line of the section; the section line and comments stay, and Headers
  // still lists it.
  void RemoveSection(std::string_view header);

  // Section names as first seen, in the order they appeared; empty when there are none.
  std::vector<std::string> Headers() const;

  // Upper-cased key names of the section in insertion order, blank names left out; one empty
  // name when there are none.
  std::vector<std::string> Keys(std::string_view header) const;

  // Every value line as loaded, in file order (also the ones a first value hides).
  struct ValueLine {
    std::string section;  // upper-cased; empty before the first section line
    std::string key;      // as written
    int lineNumber;       // from 1
  };
  std::vector<ValueLine> ValueLines() const;

  // Empties the store; the file path stays.
  void Clear();

  // Writes the store to the file path through a fresh temporary file renamed over the old file,
  // after copying the old file to the path followed by "_bck" (the same way). Returns false (and
  // logs) on failure, leaving the previous file whole.
  bool Save();

  const std::string& filePath() const { return m_filePath; }

 private:
  enum class Kind { Other, Section, Value };
  struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\n", or empty for a last line without one
    Kind kind = Kind::Other;
    std::string section;  // upper-cased: the section's own name, or the one a value is in
    std::string key;      // upper-cased, for a value line
    int number = 0;       // in the loaded file; 0 for a line added since
  };
  using LineList = std::list<Line>;
  struct Value {
    LineList::iterator line;
    std::string text;
  };
  using ValueList = std::list<Value>;
  using ValueKey = std::pair<std::string, std::string>;

  bool loadText(std::string_view text);
  void addSection(std::string_view name);
  LineList::iterator insertLine(LineList::iterator before, std::string text);
  void removeValueLines(const std::function<bool(const Line&)>& match);
  bool backUp(std::string& error) const;
  bool reportSaveFailure(const std::string& description, const std::string& tempPath);

  Services& m_services;
  FileWriter m_writer;
  std::string m_filePath;

  // The file as loaded, line by line, with the changes made since.
  LineList m_lines;
  bool m_byteOrderMark = false;
  std::string m_lineEnd = "\r\n";  // of lines added: the file's own, CR LF for a new file

  // Sections as (upper-cased name, name as first seen), in insertion order.
  std::vector<std::pair<std::string, std::string>> m_sections;
  // The values that count (the first of each key), in insertion order, indexed by name.
  ValueList m_values;
  std::map<ValueKey, ValueList::iterator> m_index;
};

}  // namespace rovalink::settings
