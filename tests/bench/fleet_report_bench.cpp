// The fleet report against a real disk, beside the least any report must do: list each machine's kept
// runs and read the newest outcome file. Fleets come from write_fleet; the folders to measure are given
// as --fleet=FOLDER (each holding machine folders). Prints each one's time per machine and the heap's
// peak while the report ran (counted by this program's own operator new). With --expected=LIST
// --missing=M --unexpected=U the report runs once more with that list, and the program fails unless it
// counts exactly M machines missing and U not expected in every fleet. The report's page is made each
// time too, and its size given.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder_listing.h"
#include "platform/utf8.h"
#include "result/fleet_page.h"
#include "result/fleet_report.h"
#include "result/outcome_file.h"

namespace {

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

}  // namespace

// Every allocation counted by the size the allocator gave it, so that the peak is the heap's own.
void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const std::size_t live = g_live += malloc_usable_size(block);
  std::size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  g_live -= malloc_usable_size(block);
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace {

std::vector<std::wstring> g_fleets;
std::wstring g_expected;
std::size_t g_missing = 0;
std::size_t g_unexpected = 0;
bool g_miscounted = false;

// The whole report, CSV rows formatted as they would be written and the page made; with a list, the list
// read each time.
void BM_Report(benchmark::State& state, const std::wstring& fleet, bool withList) {
  std::size_t machines = 0;
  std::size_t peak = 0;
  std::size_t pageBytes = 0;
  for (auto _ : state) {
    const std::size_t before = g_live;
    g_peak = before;
    std::optional<result::ExpectedList> expected;
    if (withList) expected = result::ReadExpectedList(g_expected);
    std::string line;
    result::PageFigures figures;
    std::uint32_t error = 0;
    const auto totals = result::BuildFleetReport(
        fleet,
        [&line, &figures](const result::ReportRow& row) {
          line.clear();
          result::AppendCsvRow(line, row);
          figures.Add(row);
        },
        error, expected ? &*expected : nullptr);
    if (!totals) state.SkipWithError("the fleet could not be read");
    pageBytes = totals ? result::FleetPage(*totals, figures, fleet).size() : 0;
    machines = totals ? totals->machineCount : 0;
    peak = std::max(peak, g_peak - before);
    if (withList && totals) {
      const auto missing = totals->machines.find(result::Outcome::kMissing);
      const std::size_t counted = missing == totals->machines.end() ? 0 : missing->second.size();
      if (counted != g_missing || totals->unexpected.size() != g_unexpected || !expected->problem.empty()) {
        std::fprintf(stderr, "%s: %zu missing, %zu not expected; written: %zu and %zu\n", platform::ToUtf8(fleet).c_str(),
                     counted, totals->unexpected.size(), g_missing, g_unexpected);
        g_miscounted = true;
      }
    }
  }
  state.counters["machines"] = static_cast<double>(machines);
  state.counters["us_per_machine"] =
      benchmark::Counter(static_cast<double>(machines), benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
  state.counters["peak_heap_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["page_KB"] = static_cast<double>(pageBytes) / 1e3;
}

// Each machine's Results listed, its newest outcome file by name read and parsed: what a report reading
// the newest run of every machine can't do without.
void BM_NewestOnly(benchmark::State& state, const std::wstring& fleet) {
  std::size_t machines = 0;
  for (auto _ : state) {
    machines = 0;
    std::vector<platform::FolderEntry> top;
    std::vector<platform::FolderEntry> runs;
    std::vector<std::uint8_t> bytes;
    if (platform::ListFolder(fleet, top) != 0) state.SkipWithError("the fleet could not be read");
    for (const auto& machine : top) {
      const std::wstring results = platform::ChildPath(platform::ChildPath(fleet, machine.name), L"Results");
      if (platform::ListFolder(results, runs) != 0) continue;
      std::wstring newest;
      for (const auto& entry : runs) {
        if (entry.name.rfind(L"outcome.", 0) == 0 && entry.name > newest) newest = entry.name;
      }
      std::uint32_t error = 0;
      if (!newest.empty() && platform::ReadRegularFile(platform::ChildPath(results, newest), 1U << 20, bytes, error) ==
                                 platform::BoundedReadStatus::kOk) {
        benchmark::DoNotOptimize(result::ParseOutcomeRecord(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
      }
      ++machines;
    }
  }
  state.counters["machines"] = static_cast<double>(machines);
  state.counters["us_per_machine"] =
      benchmark::Counter(static_cast<double>(machines), benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind("--fleet=", 0) == 0) {
      g_fleets.push_back(platform::FromUtf8(argument.substr(8)));
    } else if (argument.rfind("--expected=", 0) == 0) {
      g_expected = platform::FromUtf8(argument.substr(11));
    } else if (argument.rfind("--missing=", 0) == 0) {
      g_missing = std::stoul(argument.substr(10));
    } else if (argument.rfind("--unexpected=", 0) == 0) {
      g_unexpected = std::stoul(argument.substr(13));
    } else {
      rest.push_back(argv[i]);
    }
  }
  for (const auto& fleet : g_fleets) {
    const std::string name = platform::ToUtf8(fleet);
    benchmark::RegisterBenchmark(("NewestOnly/" + name).c_str(), BM_NewestOnly, fleet)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Report/" + name).c_str(), BM_Report, fleet, false)->Unit(benchmark::kMillisecond);
    if (!g_expected.empty()) {
      benchmark::RegisterBenchmark(("ReportExpected/" + name).c_str(), BM_Report, fleet, true)
          ->Unit(benchmark::kMillisecond);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return g_miscounted ? 1 : 0;
}
