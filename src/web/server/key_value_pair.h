#pragma once

#include <string>

namespace rovalink::web {

// One query-string or form field.
struct KeyValuePair {
  std::string Key;
  std::string Value;
};

}  // namespace rovalink::web
