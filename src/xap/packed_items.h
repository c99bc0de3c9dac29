#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rovalink::xap {

// Body items handed to a send as one text: items separated by char 0, name and value by the
// first char 1.
struct PackedItem {
  std::string_view name;
  std::string_view value;
};

// The items of packed data (views into sData); pieces without a char 1 are skipped.
std::vector<PackedItem> UnpackItems(std::string_view sData);

// Packs names and values, each with its control characters escaped.
std::string PackItems(const std::vector<std::pair<std::string, std::string>>& items);

// Control characters (codes 0 to 31 and 127) written as "\xNN": an outgoing name or value can
// then neither split packed data into more items nor start a new line of the xAP text.
std::string EscapeControlCharacters(std::string_view text);
bool HasControlCharacters(std::string_view text);

}  // namespace rovalink::xap
