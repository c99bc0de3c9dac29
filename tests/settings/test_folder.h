#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace rovalink::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TestFolder {
 public:
  TestFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rovalink-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
  }
  ~TestFolder() { std::filesystem::remove_all(m_path, m_ignored); }

  const std::filesystem::path& path() const { return m_path; }
  std::string file(const std::string& relative) const { return (m_path / relative).string(); }

 private:
  std::filesystem::path m_path;
  std::error_code m_ignored;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

}  // namespace rovalink::testing
