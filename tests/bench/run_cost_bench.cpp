// What the utility's own work costs, against the fake machine with pauses off: a whole successful
// run, and the three inputs that could grow (descriptor, process list, installed-update record).
// Each family runs over a range of sizes; check_linear.py fails the test run unless time grows
// linearly with size.
#include <benchmark/benchmark.h>

#include <string>

#include "app/entry.h"
#include "app/patch_execute.h"
#include "fake/fake_machine.h"
#include "fake/fleet_sample.h"
#include "fake/sample_installation.h"
#include "guard/filter_process.h"
#include "result/fleet_report.h"

namespace {

using namespace fake::sample;

// The sample installation and package, with a PreviousVersions list of the given length that ends
// with the installed version, and an older record.
void SetUpMachine(std::size_t previousVersions) {
  fake::ResetMachine();
  auto& machine = fake::TheMachine();
  InstallProduct(machine);
  PutPatchPackage(machine);
  std::string list;
  for (std::size_t i = 0; i + 1 < previousVersions; ++i) list += "13.9.0." + std::to_string(i) + ", ";
  list += "14.0.0.100";
  machine.AddFile(kDescriptorPath,
                  "PatchInfo=Veldorant 14.0 Update 2\r\nPatchFile=Update2Setup.exe\r\nPatchVersion=14.0.0.200\r\n"
                  "PreviousVersions=" + list + "\r\n");
  machine.AddFile(kRecordPath, "Veldorant 14.0 Update 1");
}

void BM_WholeSuccessfulRun(benchmark::State& state) {
  const auto versions = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    SetUpMachine(versions);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunPatchUpdate());
  }
  if (fake::TheMachine().FileText(kRecordPath) != "Veldorant 14.0 Update 2") {
    state.SkipWithError("the run did not record the patch");
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_WholeSuccessfulRun)->RangeMultiplier(16)->Range(256, 4096)->Complexity();

void BM_DescriptorRead(benchmark::State& state) {
  // About 16 bytes a version: the largest size is a descriptor of 1 MiB.
  const auto versions = static_cast<std::size_t>(state.range(0)) / 16;
  for (auto _ : state) {
    state.PauseTiming();
    SetUpMachine(versions);
    state.ResumeTiming();
    const CPatchExecute run;
    benchmark::DoNotOptimize(run.m_arrPreviousVersions.size());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DescriptorRead)->RangeMultiplier(16)->Range(64 << 10, 1 << 20)->Complexity();

void BM_ProcessScan(benchmark::State& state) {
  fake::ResetMachine();
  std::vector<std::wstring> names;
  for (std::int64_t i = 0; i < state.range(0); ++i) names.push_back(L"svchost" + std::to_wstring(i) + L".exe");
  fake::TheMachine().processes = names;
  for (auto _ : state) {
    const CFilterProcess guard;
    benchmark::DoNotOptimize(guard.m_bBlocked);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ProcessScan)->RangeMultiplier(16)->Range(625, 10000)->Complexity();

void BM_RecordCheck(benchmark::State& state) {
  // A record of N bytes that names another patch: read whole, searched, then decided by revisions.
  std::string record(static_cast<std::size_t>(state.range(0)), 'x');
  record.replace(0, 9, "Veldorant");
  for (auto _ : state) {
    state.PauseTiming();
    SetUpMachine(1);
    fake::TheMachine().AddFile(kRecordPath, record);
    CPatchExecute run;
    run.m_strLog.clear();
    state.ResumeTiming();
    run.DecideApplicability();
    benchmark::DoNotOptimize(run.m_bUpdateNeeded);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RecordCheck)->RangeMultiplier(16)->Range(64 << 10, 1 << 20)->Complexity();

}  // namespace

// The fleet report's own work over collected files on the fake machine, a machine each with 20 kept runs:
// listing, ordering, reading the newest run, counting. (Against a real disk: fleet_report_bench.)
// `delayMs` > 0: every listing and read a round trip that long, as over a share; `inFlight` machines at once.
void MeasureFleetReport(benchmark::State& state, std::size_t machines, std::uint32_t delayMs, std::size_t inFlight) {
  fake::ResetMachine();
  fake::fleet::WriteKeptRuns(machines, 20, [](const std::string& path, const std::string& bytes) {
    std::wstring file = L"C:\\Fleet\\";
    for (const char c : path) file += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    fake::TheMachine().AddFile(file, bytes);
  });
  fake::TheMachine().requestDelayMs = delayMs;
  for (auto _ : state) {
    std::size_t rows = 0;
    std::uint32_t error = 0;
    const auto totals =
        result::BuildFleetReport(L"C:\\Fleet", [&rows](const result::ReportRow&) { ++rows; }, error, nullptr, {}, inFlight);
    if (!totals || totals->machineCount != machines) state.SkipWithError("the report lost machines");
    benchmark::DoNotOptimize(rows);
  }
  const auto& asked = fake::TheMachine().requests;
  state.counters["requests_per_machine"] = static_cast<double>(asked.listed.size() + asked.fileReads +
                                                               asked.detailLookups) /
                                           (static_cast<double>(machines) * static_cast<double>(state.iterations()));
}

void BM_FleetReport(benchmark::State& state) {
  MeasureFleetReport(state, static_cast<std::size_t>(state.range(0)), 0, result::kDefaultMachinesInFlight);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FleetReport)->RangeMultiplier(16)->Range(64, 1024)->Unit(benchmark::kMillisecond)->Complexity();

// 128 machines behind no delay and behind 2 ms a request, one at a time and as many at once as by
// default: measured, not held to a growth (check_linear.py passes over named arguments).
void BM_FleetReportBehindDelay(benchmark::State& state) {
  MeasureFleetReport(state, 128, static_cast<std::uint32_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
}
BENCHMARK(BM_FleetReportBehindDelay)
    ->ArgNames({"delay_ms", "in_flight"})
    ->ArgsProduct({{0, 2}, {1, static_cast<std::int64_t>(result::kDefaultMachinesInFlight)}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
