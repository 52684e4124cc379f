#pragma once
// Time texts used in log lines.

#include <string>

#include "platform/clock.h"

namespace brimora {

// The C library's ctime form without its newline, but with the day of the month always two
// digits: "Wed Jan 02 02:03:55 1980". Out-of-range weekday or month fields show as "???".
std::string CtimeText(const platform::LocalTime& time);

}  // namespace brimora
