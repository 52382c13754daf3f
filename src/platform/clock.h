// The local wall-clock time, for the run log's header, and the system time that file times are kept in.
#pragma once

#include <cstdint>
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

// The local time, in this machine's time zone, of a moment given in seconds since 1970-01-01 UTC;
// nullopt when it can't be converted.
std::optional<LocalTime> LocalTimeOf(std::int64_t unixSeconds);

// 100-nanosecond units per second of CurrentSystemTime and FileWriteTime.
inline constexpr std::uint64_t kSystemTimeUnitsPerSecond = 10'000'000;

// Now, in the units of file write times (100 ns since 1601, UTC), for telling files written by now apart.
std::uint64_t CurrentSystemTime();

// Seconds from 1601-01-01, where system times count from, to 1970-01-01, where Unix times do.
inline constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// A system time as whole seconds since 1970-01-01 UTC.
constexpr std::int64_t UnixSecondsOf(std::uint64_t systemTime) {
  return static_cast<std::int64_t>(systemTime / kSystemTimeUnitsPerSecond) - kSecondsFrom1601To1970;
}

}  // namespace platform
