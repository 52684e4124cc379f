#include "common/time_text.h"

#include "common/format.h"

namespace brimora {

std::string CtimeText(const platform::LocalTime& time) {
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* weekday = time.weekday >= 0 && time.weekday < 7 ? kWeekdays[time.weekday] : "???";
  const char* month = time.month >= 1 && time.month <= 12 ? kMonths[time.month - 1] : "???";
  return Format("%s %s %02d %02d:%02d:%02d %d", weekday, month, time.day, time.hour, time.minute,
                time.second, time.year);
}

}  // namespace brimora
