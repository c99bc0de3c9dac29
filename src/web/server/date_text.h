#pragma once

#include <filesystem>
#include <string>

#include "platform/clock.h"

namespace rovalink::web {

// The answers' date forms, as an English Windows system writes them.
// Medium date: "07-Dec-26".
std::string MediumDateText(const platform::LocalDateTime& when);
// General date and time: "12/7/2026 1:59:06 AM".
std::string GeneralDateTimeText(const platform::LocalDateTime& when);
// A file's modification time in local time, in the general form; empty when unknown.
std::string fileDateTimeText(const std::filesystem::path& file);
// A file's modification time as HTTP dates are written (RFC 1123, in GMT):
// "Sun, 06 Dec 2026 13:05:09 GMT"; empty when unknown.
std::string fileHttpDateText(const std::filesystem::path& file);

}  // namespace rovalink::web
