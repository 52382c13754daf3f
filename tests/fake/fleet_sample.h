// A folder of files as an administrator collects them from many machines: run logs written by real
// runs on the fake machine, outcome files, and logs cut short, under the names collection tools give.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fake/fake_machine.h"
#include "fake/sample_installation.h"
#include "result/kept_runs.h"
#include "result/outcome.h"
#include "result/outcome_file.h"

namespace fake::fleet {

struct Kind {
  result::Outcome outcome;
  std::function<void(Machine&)> setUp;  // empty: an outcome file, no run
};

inline void Installable(Machine& m) {
  sample::InstallProduct(m);
  sample::PutPatchPackage(m);
  m.AddFile(sample::kRecordPath, "Veldorant 14.0 Update 1");
}

inline const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {result::Outcome::kApplied, Installable},
      {result::Outcome::kAlreadyApplied, [](Machine& m) { Installable(m); m.AddExecutable(sample::kProductExe, 14, 0, 0, 200); }},
      {result::Outcome::kBlocked, [](Machine& m) { Installable(m); m.processes = std::vector<std::wstring>{L"excel.exe"}; }},
      {result::Outcome::kInstallFailed, [](Machine& m) { Installable(m); m.launchError = 1223; }},
      {result::Outcome::kBrokenPackage, [](Machine& m) { Installable(m); m.files.erase(sample::kInstallerPath); }},
      {result::Outcome::kNotApplicable, [](Machine& m) { sample::PutPatchPackage(m); }},
      {result::Outcome::kProductIncomplete, [](Machine& m) { Installable(m); m.registry.erase(sample::kUninstallKey); }},
      {result::Outcome::kNoLog, {}},
      {result::Outcome::kUnreadable, Installable},  // its log, cut short
      // Outcomes only the companion decides, from what it finds besides the log: its outcome file. (Thirteen
      // kinds: a kind's machines take every way of naming a collected file in turn.)
      {result::Outcome::kRestartPending, {}},
      {result::Outcome::kStaleRecord, {}},
      {result::Outcome::kLaterVersion, {}},
      {result::Outcome::kRunInProgress, {}},
  };
  return kinds;
}

// The log of each kind as the utility wrote it on the fake machine (cut short for kUnreadable; empty
// for an outcome file), made once. Leaves the fake machine reset.
inline const std::vector<std::string>& Logs() {
  static const std::vector<std::string> logs = [] {
    std::vector<std::string> made;
    for (const Kind& kind : Kinds()) {
      std::string log;
      if (kind.setUp) {
        ResetMachine();
        kind.setUp(TheMachine());
        RunPatchUpdate();
        log = TheMachine().FileText(L"C:\\Patch\\Log_VDT_14_PatchUpdate.txt");
        if (kind.outcome == result::Outcome::kUnreadable) log.resize(log.size() / 2);
      }
      made.push_back(log);
    }
    ResetMachine();
    return made;
  }();
  return logs;
}

inline std::string OutcomeLine(const std::string& machine, result::Outcome outcome) {
  result::OutcomeRecord record;
  record.machine = std::wstring(machine.begin(), machine.end());
  record.time = L"2026-12-09T03:30:05";
  record.outcome = outcome;
  record.code = result::ExitCodeOf(outcome);
  record.reason = L"no log from this run, and the console names no outcome";
  return result::FormatOutcomeRecord(record) + "\r\n";
}

// Where a collected file goes ("/" between names) and what it holds.
using Sink = std::function<void(const std::string& path, const std::string& bytes)>;

// `count` machines' files, one run each, the way the collection recipes bring them back: a folder per
// machine, a renamed file, a prefixed file, and a companion's outcome file; returns how many machines
// each outcome should count.
inline std::map<result::Outcome, std::size_t> WriteFleet(std::size_t count, const Sink& sink) {
  std::map<result::Outcome, std::size_t> expected;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t k = i % Kinds().size();
    const Kind& kind = Kinds()[k];
    const std::string machine = "PC" + std::to_string(10000 + i);
    ++expected[kind.outcome];
    if (!kind.setUp) {
      sink(machine + "/Results/outcome.20261209-033005.json", OutcomeLine(machine, kind.outcome));
      continue;
    }
    switch (i % 3) {
      case 0: sink(machine + "/Log_VDT_14_PatchUpdate.txt", Logs()[k]); break;
      case 1: sink(machine + ".txt", Logs()[k]); break;
      default: sink(machine + "_Log_VDT_14_PatchUpdate.txt", Logs()[k]); break;
    }
  }
  return expected;
}

// `machines` machines as the companion keeps them, `runs` runs each a minute apart, the newest of each
// machine's kind, the older ones applied: "PCnnnnn/Results/" with each run's log copy and outcome file.
inline std::map<result::Outcome, std::size_t> WriteKeptRuns(std::size_t machines, std::size_t runs, const Sink& sink) {
  std::map<result::Outcome, std::size_t> expected;
  for (std::size_t i = 0; i < machines; ++i) {
    const std::size_t k = i % Kinds().size();
    const std::string machine = "PC" + std::to_string(10000 + i);
    const std::string folder = machine + "/Results/";
    ++expected[Kinds()[k].outcome];
    for (std::size_t run = 0; run < runs; ++run) {
      const bool newest = run + 1 == runs;
      const std::wstring wide = L"20261209-" + std::to_wstring(100000 + run * 100);
      const std::string stamp(wide.begin(), wide.end());
      const std::size_t kind = newest ? k : 0;
      if (!Logs()[kind].empty()) sink(folder + "Log_VDT_14_PatchUpdate." + stamp + ".txt", Logs()[kind]);
      // A cut-short run left no outcome file; its log decides.
      if (Kinds()[kind].outcome != result::Outcome::kUnreadable) {
        sink(folder + "outcome." + stamp + ".json", OutcomeLine(machine, Kinds()[kind].outcome));
      }
    }
  }
  return expected;
}

// The fleet as Intune exports it for `machines` machines written above: every tenth of them left off the
// list (reported, not expected) and as many machines listed that never reported ("PX..."), in upper and
// lower case and as host names.
struct ExpectedExport {
  std::string csv;
  std::size_t missing = 0;
  std::size_t unexpected = 0;
};

inline ExpectedExport ExpectedList(std::size_t machines) {
  ExpectedExport list;
  list.csv = "\xEF\xBB\xBF" "Device name,Managed by,OS\r\n";
  for (std::size_t i = 0; i < machines; ++i) {
    if (i % 10 == 0) {
      ++list.unexpected;
      ++list.missing;
      list.csv += "px" + std::to_string(10000 + i) + ".corp.example.com,Intune,Windows\r\n";
      continue;
    }
    list.csv += (i % 2 == 0 ? "pc" : "PC") + std::to_string(10000 + i) + ",Intune,Windows\r\n";
  }
  return list;
}

}  // namespace fake::fleet
