#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rovalink::web {

// The menus and users of the page decorations. Every value that may come from a request is a
// bound parameter; the statement text is always one of the program's own.
class PageDatabase {
 public:
  using Row = std::vector<std::string>;

  // A failing open, prepare or step; the decorations log it and carry on without the rows.
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  virtual ~PageDatabase() = default;

  // Runs one statement whose "?" placeholders take params in order; every column reads as text
  // (NULL as empty text). At most maxRows rows are returned.
  virtual std::vector<Row> query(std::string_view sql, const std::vector<std::string>& params,
                                 std::size_t maxRows = kMaxRows) = 0;

  static constexpr std::size_t kMaxRows = 500;
};

}  // namespace rovalink::web
