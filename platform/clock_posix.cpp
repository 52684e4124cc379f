#include "platform/clock.h"

#include <time.h>

namespace brimora::platform {

LocalTime LocalTimeNow() {
  const time_t now = time(nullptr);
  struct tm parts {};
  localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_wday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::string UtcNowText() {
  const time_t now = time(nullptr);
  struct tm parts {};
  gmtime_r(&now, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::uint64_t MonotonicMilliseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace brimora::platform
