// The fleet report as one page to look at and forward: how far the rollout is, what fails and why, who
// hasn't reported. Self-contained HTML that runs nothing and loads nothing, so it is safe to open from a
// share; everything the machines wrote shows as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "result/fleet_report.h"

namespace result {

// The page's name beside the CSV when not named: the CSV's with ".html" for ".csv".
std::wstring PageBesideCsv(const std::wstring& csv);

// What the page shows beyond the report's totals, gathered row by row and small at any fleet size: the
// counted machines per day of their run, and the reasons of those whose run failed.
class PageFigures {
 public:
  // Distinct days and reasons kept in mind; the others are counted together.
  static constexpr std::size_t kMaxDays = 4000;
  static constexpr std::size_t kMaxReasons = 200;

  struct Day {
    std::size_t reached = 0;  // machines whose newest run, that day, found them at or above the patch
    std::size_t failed = 0;   // machines whose newest run, that day, failed or was blocked
  };

  void Add(const ReportRow& row);

  const std::map<std::int64_t, Day>& days() const { return days_; }  // by day number since 1970-01-01
  const std::map<std::wstring, std::size_t>& reasons() const { return reasons_; }
  std::size_t undatedReached() const { return undatedReached_; }
  std::size_t undatedFailed() const { return undatedFailed_; }
  std::size_t otherReasons() const { return otherReasons_; }

 private:
  std::map<std::int64_t, Day> days_;
  std::map<std::wstring, std::size_t> reasons_;
  std::size_t undatedReached_ = 0;
  std::size_t undatedFailed_ = 0;
  std::size_t otherReasons_ = 0;
};

// Whether a machine with this outcome runs the patch's version or a later one.
bool AtPatch(Outcome outcome);
// Whether a run with this outcome failed or was kept from running (the machine needs looking after).
bool FailedOrBlocked(Outcome outcome);

// The page, UTF-8. `collection` is the folder the report read; nothing else, no clock, goes in, so one
// report always makes the same page.
std::string FleetPage(const ReportTotals& totals, const PageFigures& figures, const std::wstring& collection);

// Past this many names a list on the page says how many more the CSV holds.
inline constexpr std::size_t kPageNamesPerList = 2000;

}  // namespace result
