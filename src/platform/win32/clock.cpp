#include <windows.h>

#include "platform/clock.h"

namespace platform {

std::optional<LocalTime> CurrentLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.weekday = now.wDayOfWeek;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  return time;
}

std::uint64_t CurrentSystemTime() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::optional<LocalTime> LocalTimeOf(std::int64_t unixSeconds) {
  const std::int64_t since1601 = unixSeconds + kSecondsFrom1601To1970;
  if (since1601 < 0) return std::nullopt;
  const auto units = static_cast<std::uint64_t>(since1601) * kSystemTimeUnitsPerSecond;
  FILETIME file{static_cast<DWORD>(units & 0xFFFFFFFFU), static_cast<DWORD>(units >> 32)};
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  // The zone's rule for that moment, daylight saving included, not today's offset.
  if (!::FileTimeToSystemTime(&file, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return std::nullopt;
  }
  return LocalTime{local.wYear, local.wMonth, local.wDay, local.wDayOfWeek, local.wHour, local.wMinute, local.wSecond};
}

}  // namespace platform
