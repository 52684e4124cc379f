#pragma once
// printf-style formatting over UTF-8 text, type-safe through {fmt}. Message texts keep
// their printf shape ("%s", "%d", "%X"), so every message stays one literal in one place.

#include <string>

#include <fmt/printf.h>

namespace brimora {

// Formats like sprintf. A format whose conversions do not fit the arguments does not throw:
// the answer is then the format text itself, so a logging call can never end the run.
template <typename... Args>
std::string Format(const char* format, const Args&... args) {
  try {
    return fmt::sprintf(format, args...);
  } catch (const fmt::format_error&) {
    return format;
  }
}

}  // namespace brimora
