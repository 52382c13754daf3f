#include <windows.h>

#include "platform/clock.h"

namespace platform {
namespace {

LocalTime LocalTimeFrom(const SYSTEMTIME& time) {
  return LocalTime{time.wYear, time.wMonth, time.wDay, time.wDayOfWeek, time.wHour, time.wMinute, time.wSecond};
}

}  // namespace

std::optional<LocalTime> CurrentLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTimeFrom(now);
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
  return LocalTimeFrom(local);
}

}  // namespace platform
