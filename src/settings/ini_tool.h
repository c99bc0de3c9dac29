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

// In-memory store of one INI file. Section and key names match without regard to letter case;
// the first value of a key in a file wins; Save writes everything back sorted.
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

  void WriteKey(std::string_view header, std::string_view Key, std::string_view newValue);
  void Remove(std::string_view header, std::string_view Key);

  // Drops every value of the section; the section itself stays listed by Headers.
  void RemoveSection(std::string_view header);

  // Section names as first seen, in the order they appeared; empty when there are none.
  std::vector<std::string> Headers() const;

  // Upper-cased key names of the section in insertion order, blank names left out; one empty
  // name when there are none.
  std::vector<std::string> Keys(std::string_view header) const;

  // Empties the store; the file path stays.
  void Clear();

  // Writes the store to the file path through a fresh temporary file renamed over the old file,
  // after copying the old file to the path followed by "_bck" (the same way). Returns false (and
  // logs) on failure, leaving the previous file whole.
  bool Save();

  const std::string& filePath() const { return m_filePath; }

 private:
  struct Value {
    std::string section;  // upper-cased
    std::string key;      // upper-cased
    std::string text;
  };
  using ValueList = std::list<Value>;
  using ValueKey = std::pair<std::string, std::string>;

  bool loadText(std::string_view text);
  void addSection(std::string_view name);
  void setValue(std::string section, std::string key, std::string_view text, bool overwrite);
  bool backUp(std::string& error) const;
  bool reportSaveFailure(const std::string& description, const std::string& tempPath);

  Services& m_services;
  FileWriter m_writer;
  std::string m_filePath;

  // Sections as (upper-cased name, name as first seen), in insertion order.
  std::vector<std::pair<std::string, std::string>> m_sections;
  // Values in insertion order, indexed by (section, key); the index's order is the save order.
  ValueList m_values;
  std::map<ValueKey, ValueList::iterator> m_index;
};

}  // namespace rovalink::settings
