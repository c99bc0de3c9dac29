#pragma once

#include "settings/ascii_case.h"

// The xAP side names the shared ASCII case helpers as its own.
namespace rovalink::xap {

using settings::containsNoCase;
using settings::equalsNoCase;
using settings::lowerAscii;
using settings::startsWithNoCase;
using settings::toLowerAscii;
using settings::toUpperAscii;
using settings::upperAscii;

}  // namespace rovalink::xap
