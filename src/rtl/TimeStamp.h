#pragma once

#include "AnsiString.h"

#include <chrono>

namespace rtl {

// "yy/mm/dd hh:mm:ss zzz," in local time. On Windows the date and time separators are the
// user's regional ones; elsewhere "/" and ":".
AnsiString FormatTimeStamp(std::chrono::system_clock::time_point when = std::chrono::system_clock::now());

} // namespace rtl
