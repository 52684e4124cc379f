#pragma once
// Wall-clock and monotonic time of the operating system.
//
// Thread safety: every function may be called from any thread.

#include <cstdint>
#include <string>

namespace brimora::platform {

// A moment in the local time zone, broken down as the C library does (month and day from 1).
struct LocalTime {
  int year;
  int month;    // 1-12
  int day;      // 1-31
  int weekday;  // 0 = Sunday
  int hour;
  int minute;
  int second;
};

LocalTime LocalTimeNow();

// The current time in UTC as ISO 8601 with seconds, "2026-12-06T22:22:32Z".
std::string UtcNowText();

// Milliseconds since an unspecified start; never goes backwards and does not wrap in practice.
std::uint64_t MonotonicMilliseconds();

}  // namespace brimora::platform
