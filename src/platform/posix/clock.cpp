#include <time.h>

#include "platform/clock.h"

namespace platform {

std::optional<LocalTime> LocalTimeOf(std::int64_t unixSeconds) {
  const auto seconds = static_cast<time_t>(unixSeconds);
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_wday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::uint64_t CurrentSystemTime() {
  timespec now{};
  (void)clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec + kSecondsFrom1601To1970) * kSystemTimeUnitsPerSecond +
         static_cast<std::uint64_t>(now.tv_nsec) / 100;
}

}  // namespace platform
