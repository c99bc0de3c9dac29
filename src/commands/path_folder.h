#pragma once

#include <string>
#include <string_view>

namespace rovalink::commands {

// The folder that path files named from outside (an xAP "File" command) must lie in. A name is
// taken relative to the folder; a name with a ".." element, an absolute name elsewhere, and a
// name whose links lead out of the folder are refused before anything is opened.
class PathFolder {
 public:
  explicit PathFolder(std::string folder) : m_folder(std::move(folder)) {}
  const std::string& path() const { return m_folder; }

  enum class Outcome { Found, Missing, Refused };
  struct Resolved {
    Outcome outcome = Outcome::Missing;
    std::string file;       // Found: the plain file, every link resolved, inside the folder
    std::string proofFile;  // Found: its proof file inside the folder; "" when the name has no "."
  };
  Resolved resolve(std::string_view name) const;

 private:
  std::string m_folder;
};

}  // namespace rovalink::commands
