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

std::string PackItems(const std::vector<std::pair<std::string, std::string>>& items);

}  // namespace rovalink::xap
