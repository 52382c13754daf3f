// The local wall-clock time, for the run log's header.
#pragma once

#include <optional>

namespace platform {

struct LocalTime {
  int year = 0;     // four digits, e.g. 2026
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int weekday = 0;  // 0 = Sunday .. 6 = Saturday
  int hour = 0;     // 0..23
  int minute = 0;   // 0..59
  int second = 0;   // 0..59
};

// The current local time; nullopt when it can't be converted.
std::optional<LocalTime> CurrentLocalTime();

}  // namespace platform
