#include "commands/path_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "commands/path_file.h"

namespace rovalink::commands {
namespace fs = std::filesystem;

namespace {

// True when path is folder or lies below it (both without "." or ".." elements).
bool isWithin(const fs::path& path, const fs::path& folder) {
  const auto folderEnd =
      std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first;
  // A trailing separator of the folder shows as an empty last element.
  return folderEnd == folder.end() || (std::next(folderEnd) == folder.end() && folderEnd->empty());
}

}  // namespace

PathFolder::Resolved PathFolder::resolve(std::string_view name) const {
  Resolved result;
  if (name.empty()) return result;
  result.outcome = Outcome::Refused;
  // A NUL would end the name early for the system.
  if (name.find('\0') != std::string_view::npos) return result;
  const fs::path given{std::string(name)};
  for (const fs::path& element : given) {
    if (element == "..") return result;
  }
  const fs::path folder = fs::path(m_folder).lexically_normal();
  fs::path relative = given;
  if (given.is_absolute()) {
    if (!isWithin(given.lexically_normal(), folder)) return result;
    relative = given.lexically_normal().lexically_relative(folder);
  }

  std::error_code ec;
  const fs::path realFolder = fs::canonical(folder, ec);
  const fs::path realFile = ec ? fs::path() : fs::canonical(folder / relative, ec);
  if (ec) {
    result.outcome = Outcome::Missing;  // the file, or a link's target, does not exist
    return result;
  }
  if (!isWithin(realFile, realFolder)) return result;
  if (!fs::is_regular_file(realFile, ec)) {
    result.outcome = Outcome::Missing;
    return result;
  }
  result.outcome = Outcome::Found;
  result.file = realFile.string();
  // From the name as given, not the whole path: a "." in a folder above must not move the proof
  // file out of the folder.
  const std::string proofName = ProofFileName(relative.string());
  if (!proofName.empty()) result.proofFile = (folder / proofName).string();
  return result;
}

}  // namespace rovalink::commands
