// The page is written once the walk is done, from the report's totals and a few small tallies, so its
// size and the memory behind it stay the same whatever the fleet's size: each list is cut at a few
// thousand names, each name and reason at a line's length, the reasons and days at a few thousand.
//
// Whoever can write the collection chooses machine names and reasons: every such text goes through the
// console's filter (no control, bidi or invisible character) and then HTML escaping, in element content
// only, never in an attribute or a script or style. The policy in the page forbids scripts and loading
// anything, in case anything slipped through all the same.
#include "result/fleet_page.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/utf8.h"
#include "result/kept_runs.h"

namespace result {

using platform::ToUtf8;
namespace {

constexpr char kPolicy[] =
    "default-src 'none'; style-src 'unsafe-inline'; img-src data:; base-uri 'none'; form-action 'none'";
constexpr char kStyle[] =
    "body{font:14px/1.4 system-ui,Segoe UI,Arial,sans-serif;color:#1b1b1b;margin:24px;max-width:960px}"
    "h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:24px 0 6px}"
    "summary{color:#555}.headline{font-size:20px;margin:8px 0}.headline strong{font-size:28px}.sub{color:#555}"
    "table{border-collapse:collapse}td,th{padding:2px 10px;text-align:left;border-bottom:1px solid #ddd}"
    "td.n,th.n{text-align:right}svg{max-width:100%;height:auto}svg text{font:12px system-ui,Segoe UI,Arial,sans-serif}"
    "details{margin:4px 0}summary{cursor:pointer}ul.names{columns:4 14em;margin:4px 0;padding-left:20px}"
    "ul.names li{overflow-wrap:anywhere}.reason{overflow-wrap:anywhere}"
    "@page{size:A4;margin:12mm}"
    "@media print{body{margin:0;font-size:11px}.noprint{display:none}section{break-inside:avoid}}";

// What the page shows of one text: at most this many characters.
constexpr std::size_t kShownChars = 120;
constexpr std::size_t kReasonChars = 300;
// Reasons listed by name, the rest summed.
constexpr std::size_t kReasonsShown = 25;
// Days drawn in the rollout chart, up to the newest run's; earlier ones add to where the line starts.
constexpr std::int64_t kChartDays = 60;

// Text any machine could have written, as HTML element content.
void AppendText(std::string& out, std::wstring_view text, std::size_t limit = kShownChars) {
  std::wstring shown = ForConsole(text.substr(0, limit));
  if (text.size() > limit) shown += L"...";
  for (const char c : ToUtf8(shown)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
}

std::string Number(std::size_t n) { return std::to_string(n); }

// "25.0%", rounded to a tenth; "-" of nothing.
std::string Share(std::size_t part, std::size_t whole) {
  if (whole == 0) return "-";
  const std::size_t tenths = (part * 1000 + whole / 2) / whole;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
}

// Days since 1970-01-01 as a date (the proleptic Gregorian calendar).
std::string DayText(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
  const auto two = [](unsigned v) {
    return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
  };
  return std::to_string(y) + "-" + two(m) + "-" + two(d);
}

// The day of a row's time "YYYY-MM-DD...", when it is one of the calendar.
std::optional<std::int64_t> DayOf(std::wstring_view time) {
  if (time.size() < 10 || time[4] != L'-' || time[7] != L'-') return std::nullopt;
  unsigned value[3] = {};
  const std::size_t starts[3] = {0, 5, 8};
  const std::size_t lengths[3] = {4, 2, 2};
  for (int part = 0; part < 3; ++part) {
    for (std::size_t i = starts[part]; i < starts[part] + lengths[part]; ++i) {
      if (time[i] < L'0' || time[i] > L'9') return std::nullopt;
      value[part] = value[part] * 10 + static_cast<unsigned>(time[i] - L'0');
    }
  }
  if (value[1] < 1 || value[1] > 12 || value[2] < 1 || value[2] > 31) return std::nullopt;
  const std::int64_t day =
      WallClockSeconds(static_cast<int>(value[0]), static_cast<int>(value[1]), static_cast<int>(value[2]), 0, 0, 0) /
      kSecondsPerDay;
  // February 30th and the like come back as another day.
  if (DayText(day) != ToUtf8(time.substr(0, 10))) return std::nullopt;
  return day;
}

const char* ColourOf(Outcome outcome) {
  if (AtPatch(outcome)) return "#2e7d32";
  if (outcome == Outcome::kRestartPending) return "#f9a825";
  if (outcome == Outcome::kMissing) return "#5c6bc0";
  if (FailedOrBlocked(outcome)) return "#c62828";
  return "#757575";
}

std::string CodeText(Outcome outcome) {
  return outcome == Outcome::kMissing ? std::string("no exit code")
                                      : "exit code " + std::to_string(ExitCodeOf(outcome));
}

void AppendHeadline(std::string& out, const ReportTotals& totals) {
  const std::size_t missing = CountOf(totals, Outcome::kMissing);
  const std::size_t seen = totals.machineCount - missing;
  const std::size_t atPatch = std::accumulate(
      std::begin(kAllOutcomes), std::end(kAllOutcomes), std::size_t{0},
      [&totals](std::size_t sum, Outcome outcome) { return sum + (AtPatch(outcome) ? CountOf(totals, outcome) : 0); });
  out += "<section id=\"headline\"><p class=\"headline\"><strong id=\"at-patch\">" + Number(atPatch) +
         "</strong> of <span id=\"seen\">" + Number(seen) +
         "</span> machines seen run the patch&#39;s version or a "
         "later one (<span id=\"seen-share\">" +
         Share(atPatch, seen) + "</span>).</p>\n";
  if (totals.expectedCount > 0) {
    out += "<p class=\"headline\"><strong id=\"expected-at-patch\">" + Number(totals.expectedAtPatch) +
           "</strong> of the <span id=\"expected\">" + Number(totals.expectedCount) +
           "</span> expected machines (<span id=\"expected-share\">" +
           Share(totals.expectedAtPatch, totals.expectedCount) + "</span>); <span id=\"missing\">" + Number(missing) +
           "</span> of them have no run collected.</p>\n";
  }
  out += "<p class=\"sub\">" + Number(totals.fileCount) + " files read";
  if (totals.notRead > 0) {
    out += "; <span id=\"not-read\">" + Number(totals.notRead) +
           "</span> folders or files could not be read (rows in the CSV): the report is incomplete";
  }
  if (totals.expectedCount > 0) {
    out +=
        "; <span id=\"unexpected\">" + Number(totals.unexpected.size()) + "</span> machines not on the expected list";
  }
  out += ".</p></section>\n";
}

// One bar per outcome, its name, exit code, count and share written beside it.
void AppendOutcomeChart(std::string& out, const ReportTotals& totals) {
  const auto outcomes = ShownOutcomes(totals);
  std::size_t largest = 1;
  for (const Outcome outcome : outcomes) largest = std::max(largest, CountOf(totals, outcome));
  constexpr std::size_t kRow = 24;
  constexpr std::size_t kBarStart = 280;
  constexpr std::size_t kBarWidth = 360;
  const std::size_t height = outcomes.size() * kRow + 8;
  out +=
      "<section id=\"outcomes\"><h2>Outcomes</h2>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"760\" height=\"" +
      Number(height) + "\" viewBox=\"0 0 760 " + Number(height) +
      "\" role=\"img\" aria-label=\"Machines per outcome\">\n";
  std::size_t y = 4;
  for (const Outcome outcome : outcomes) {
    const std::size_t count = CountOf(totals, outcome);
    const std::size_t width = count == 0 ? 0 : std::max<std::size_t>(1, count * kBarWidth / largest);
    const std::string name = ToUtf8(OutcomeName(outcome));
    out += "<text x=\"0\" y=\"" + Number(y + 15) + "\">" + name + " (" + CodeText(outcome) + ")</text>";
    out += "<rect x=\"" + Number(kBarStart) + "\" y=\"" + Number(y + 3) + "\" width=\"" + Number(width) +
           "\" height=\"16\" fill=\"" + ColourOf(outcome) + "\"/>";
    out += "<text x=\"" + Number(kBarStart + width + 6) + "\" y=\"" + Number(y + 15) + "\">" + Number(count) + " (" +
           Share(count, totals.machineCount) + ")</text>\n";
    y += kRow;
  }
  out +=
      "</svg>\n<details class=\"noprint\"><summary>As a table</summary><table "
      "id=\"outcome-table\"><tr><th>Outcome</th><th class=\"n\">Exit code</th>"
      "<th class=\"n\">Machines</th><th class=\"n\">Share</th></tr>\n";
  for (const Outcome outcome : outcomes) {
    const std::size_t count = CountOf(totals, outcome);
    out += "<tr data-outcome=\"" + ToUtf8(OutcomeName(outcome)) + "\"><td>" + ToUtf8(OutcomeName(outcome)) +
           "</td><td class=\"n\">" + (outcome == Outcome::kMissing ? std::string("-") : Number(ExitCodeOf(outcome))) +
           "</td><td class=\"n count\">" + Number(count) + "</td><td class=\"n\">" + Share(count, totals.machineCount) +
           "</td></tr>\n";
  }
  out += "<tr><td>total</td><td></td><td class=\"n\" id=\"total\">" + Number(totals.machineCount) +
         "</td><td></td></tr></table></details></section>\n";
}

// The machines at the patch so far, day by day, as a line that stays flat while nothing moves; the
// failed or blocked runs of each day as bars below it.
void AppendRollout(std::string& out, const PageFigures& figures) {
  out += "<section id=\"rollout\"><h2>Rollout by day</h2>\n";
  const auto& days = figures.days();
  if (days.empty()) {
    out += "<p>No run with a date.</p>";
  } else {
    const std::int64_t last = days.rbegin()->first;
    const std::int64_t first = std::max(days.begin()->first, last - kChartDays + 1);
    std::size_t before = 0;
    std::size_t beforeFailed = 0;
    std::vector<std::size_t> total;
    std::vector<std::size_t> failed;
    for (const auto& [day, counts] : days) {
      if (day < first) {
        before += counts.reached;
        beforeFailed += counts.failed;
      }
    }
    std::size_t running = before;
    std::size_t peak = 1;
    for (std::int64_t day = first; day <= last; ++day) {
      const auto it = days.find(day);
      running += it == days.end() ? 0 : it->second.reached;
      total.push_back(running);
      failed.push_back(it == days.end() ? 0 : it->second.failed);
      peak = std::max({peak, running, failed.back()});
    }
    constexpr std::size_t kLeft = 60;
    constexpr std::size_t kWidth = 680;
    constexpr std::size_t kTop = 10;
    constexpr std::size_t kHeight = 200;
    constexpr std::size_t kInset = 20;  // the first and last day's bars clear of the axis' labels
    const std::size_t step = total.size() > 1 ? (kWidth - 2 * kInset) / (total.size() - 1) : 0;
    const auto xOf = [&](std::size_t i) { return kLeft + kInset + i * step; };
    const auto yOf = [&](std::size_t value) { return kTop + kHeight - value * kHeight / peak; };
    out +=
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"760\" height=\"270\" viewBox=\"0 0 760 270\" role=\"img\" "
        "aria-label=\"Machines at the patch and failed or blocked runs per day\">\n";
    out += "<line x1=\"" + Number(kLeft) + "\" y1=\"" + Number(kTop + kHeight) + "\" x2=\"" + Number(kLeft + kWidth) +
           "\" y2=\"" + Number(kTop + kHeight) + "\" stroke=\"#999\"/>";
    out += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(kTop + 10) + "\" text-anchor=\"end\">" + Number(peak) +
           "</text><text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(kTop + kHeight) +
           "\" text-anchor=\"end\">0</text>\n";
    const std::size_t barWidth = std::max<std::size_t>(2, std::min<std::size_t>(step > 4 ? step - 2 : 2, 24));
    for (std::size_t i = 0; i < failed.size(); ++i) {
      if (failed[i] == 0) continue;
      const std::size_t x = xOf(i);
      out += "<rect x=\"" + Number(x > barWidth / 2 ? x - barWidth / 2 : 0) + "\" y=\"" + Number(yOf(failed[i])) +
             "\" width=\"" + Number(barWidth) + "\" height=\"" + Number(kTop + kHeight - yOf(failed[i])) +
             "\" fill=\"#c62828\"/>";
    }
    out += "\n<polyline fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"3\" points=\"";
    for (std::size_t i = 0; i < total.size(); ++i) {
      if (i != 0) out += ' ';
      out += Number(xOf(i));
      out += ',';
      out += Number(yOf(total[i]));
    }
    out += "\"/>\n<text x=\"" + Number(xOf(0)) + "\" y=\"" + Number(kTop + kHeight + 18) +
           "\" text-anchor=\"middle\">" + DayText(first) + "</text>";
    if (total.size() > 1) {
      out += "<text x=\"" + Number(xOf(total.size() - 1)) + "\" y=\"" + Number(kTop + kHeight + 18) +
             "\" text-anchor=\"middle\">" + DayText(last) + "</text>";
    }
    out += "\n";
    out += "<rect x=\"" + Number(kLeft) + "\" y=\"246\" width=\"14\" height=\"4\" fill=\"#2e7d32\"/><text x=\"" +
           Number(kLeft + 20) + "\" y=\"252\">line: machines at the patch so far</text><rect x=\"" +
           Number(kLeft + 300) + "\" y=\"242\" width=\"10\" height=\"10\" fill=\"#c62828\"/><text x=\"" +
           Number(kLeft + 316) + "\" y=\"252\">bars: runs failed or blocked that day</text>\n</svg>\n";
    out +=
        "<details class=\"noprint\"><summary>As a table</summary><table id=\"day-table\"><tr><th>Day</th><th "
        "class=\"n\">Reached the patch</th>"
        "<th class=\"n\">At the patch so far</th><th class=\"n\">Failed or blocked</th></tr>\n";
    if (before > 0 || beforeFailed > 0) {
      out += "<tr data-day=\"earlier\"><td>before " + DayText(first) + "</td><td class=\"n reached\">" +
             Number(before) + "</td><td class=\"n\">" + Number(before) + "</td><td class=\"n failed\">" +
             Number(beforeFailed) + "</td></tr>\n";
    }
    for (std::size_t i = 0; i < total.size(); ++i) {
      const std::int64_t day = first + static_cast<std::int64_t>(i);
      const auto it = days.find(day);
      if (it == days.end()) continue;
      out += "<tr data-day=\"" + DayText(day) + "\"><td>" + DayText(day) + "</td><td class=\"n reached\">" +
             Number(it->second.reached) + "</td><td class=\"n\">" + Number(total[i]) + "</td><td class=\"n failed\">" +
             Number(it->second.failed) + "</td></tr>\n";
    }
    out += "</table></details>\n";
  }
  if (figures.undatedReached() > 0 || figures.undatedFailed() > 0) {
    out += "<p class=\"noprint\">Without a date (or past the days kept): <span id=\"undated-reached\">" +
           Number(figures.undatedReached()) + "</span> at the patch, <span id=\"undated-failed\">" +
           Number(figures.undatedFailed()) + "</span> failed or blocked.</p>\n";
  }
  out += "</section>\n";
}

void AppendReasons(std::string& out, const PageFigures& figures) {
  std::vector<std::pair<std::size_t, const std::wstring*>> reasons;
  for (const auto& [reason, count] : figures.reasons()) reasons.emplace_back(count, &reason);
  std::sort(reasons.begin(), reasons.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : *a.second < *b.second;
  });
  out += "<section id=\"reasons\" class=\"noprint\"><h2>Why runs failed or were blocked</h2>\n";
  if (reasons.empty()) {
    out += "<p>No run failed or was blocked.</p></section>\n";
    return;
  }
  out += "<table id=\"reason-table\"><tr><th class=\"n\">Machines</th><th>Reason</th></tr>\n";
  std::size_t others = figures.otherReasons();
  for (std::size_t i = 0; i < reasons.size(); ++i) {
    if (i >= kReasonsShown) {
      others += reasons[i].first;
      continue;
    }
    out += "<tr><td class=\"n count\">" + Number(reasons[i].first) + "</td><td class=\"reason\">";
    AppendText(out, *reasons[i].second, kReasonChars);
    out += "</td></tr>\n";
  }
  if (others > 0) out += "<tr><td class=\"n count\">" + Number(others) + "</td><td>other reasons</td></tr>\n";
  out += "</table></section>\n";
}

void AppendList(std::string& out, const std::string& id, const std::string& title,
                const std::vector<std::wstring>& names) {
  out += "<details id=\"list-" + id + "\"><summary>" + title + ": " + Number(names.size()) +
         "</summary><ul class=\"names\">";
  const std::size_t shown = std::min(names.size(), kPageNamesPerList);
  for (std::size_t i = 0; i < shown; ++i) {
    out += "<li>";
    AppendText(out, names[i]);
    out += "</li>";
  }
  out += "</ul>";
  if (names.size() > shown) out += "<p class=\"more\">" + Number(names.size() - shown) + " more in the CSV</p>";
  out += "</details>\n";
}

}  // namespace

std::wstring PageBesideCsv(const std::wstring& csv) {
  std::wstring page = csv;
  const std::size_t size = page.size();
  if (size >= 4 && page[size - 4] == L'.' && (page[size - 3] | 0x20) == L'c' && (page[size - 2] | 0x20) == L's' &&
      (page[size - 1] | 0x20) == L'v') {
    page.resize(size - 4);
  }
  return page + L".html";
}

bool AtPatch(Outcome outcome) {
  return outcome == Outcome::kApplied || outcome == Outcome::kAlreadyApplied || outcome == Outcome::kLaterVersion;
}

// Every outcome but those at the patch, one a restart completes, one not for the machine, and no run.
bool FailedOrBlocked(Outcome outcome) {
  return !AtPatch(outcome) && outcome != Outcome::kRestartPending && outcome != Outcome::kNotApplicable &&
         outcome != Outcome::kMissing;
}

void PageFigures::Add(const ReportRow& row) {
  if (!row.counted) return;
  const bool reached = AtPatch(row.outcome);
  const bool failed = FailedOrBlocked(row.outcome);
  if (!reached && !failed) return;
  const auto day = DayOf(row.time);
  auto it = day ? days_.find(*day) : days_.end();
  if (day && it == days_.end() && days_.size() < kMaxDays) it = days_.emplace(*day, Day{}).first;
  if (it == days_.end()) {
    (reached ? undatedReached_ : undatedFailed_) += 1;
  } else {
    (reached ? it->second.reached : it->second.failed) += 1;
  }
  if (!failed) return;
  const std::wstring reason = row.reason.substr(0, kReasonChars);
  const auto known = reasons_.find(reason);
  if (known != reasons_.end()) {
    ++known->second;
  } else if (reasons_.size() < kMaxReasons) {
    reasons_.emplace(reason, 1);
  } else {
    ++otherReasons_;
  }
}

std::string FleetPage(const ReportTotals& totals, const PageFigures& figures, const std::wstring& collection) {
  std::string out;
  out.reserve(std::size_t{64} << 10);
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<meta http-equiv=\"Content-Security-Policy\" "
      "content=\"";
  out += kPolicy;
  out += "\">\n<meta name=\"referrer\" content=\"no-referrer\">\n<title>Patch rollout report</title>\n<style>";
  out += kStyle;
  out += "</style></head>\n<body>\n<h1>Patch rollout</h1>\n<p class=\"sub\">Machines in <span id=\"collection\">";
  AppendText(out, collection, 260);
  out += "</span>, each counted once by its newest run.</p>\n";
  AppendHeadline(out, totals);
  AppendOutcomeChart(out, totals);
  AppendRollout(out, figures);
  AppendReasons(out, figures);
  out += "<section id=\"machines\" class=\"noprint\"><h2>Machines</h2>\n";
  for (const Outcome outcome : ShownOutcomes(totals)) {
    const auto it = totals.machines.find(outcome);
    if (it == totals.machines.end() || it->second.empty()) continue;
    const std::string name = ToUtf8(OutcomeName(outcome));
    AppendList(out, name, name, it->second);
  }
  if (!totals.unexpected.empty()) AppendList(out, "not-expected", "not on the expected list", totals.unexpected);
  out += "</section>\n</body></html>\n";
  return out;
}

}  // namespace result
