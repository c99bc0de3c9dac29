# Writes OUTPUT: a C++ source holding each of the files in ASSETS (a ;-list of paths) as bytes,
# looked up by file name through rovalink::web::LiveAsset(). ASSETS is "|"-separated.
string(REPLACE "|" ";" ASSETS "${ASSETS}")
set(body "")
set(table "")
set(n 0)
foreach(path IN LISTS ASSETS)
  get_filename_component(name ${path} NAME)
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "constexpr char kAsset${n}[] = {${bytes}0};\n")
  string(APPEND table "    {\"${name}\", {kAsset${n}, ${size}}},\n")
  math(EXPR n "${n} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp "// Generated from src/web/pages/live/ at build time; do not edit.
#include \"web/pages/live_assets.h\"

#include <array>
#include <utility>

namespace rovalink::web {
namespace {
${body}
constexpr std::array<std::pair<std::string_view, std::string_view>, ${n}> kAssets{{
${table}}};
}  // namespace

std::optional<std::string_view> LiveAsset(std::string_view name) {
  for (const auto& [assetName, bytes] : kAssets) {
    if (assetName == name) return bytes;
  }
  return std::nullopt;
}

}  // namespace rovalink::web
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
