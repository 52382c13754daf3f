// A folder of files as an administrator collects them from many machines: run logs written by real
// runs on the fake machine, outcome files, and logs cut short, under the names collection tools give.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fake/fake_machine.h"
#include "fake/sample_installation.h"
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
  };
  return kinds;
}

// Writes `count` machines' files below `folder`; returns how many machines each outcome should count.
inline std::map<result::Outcome, std::size_t> WriteFleet(const std::filesystem::path& folder, std::size_t count) {
  namespace fs = std::filesystem;
  std::vector<std::string> logs;
  for (const Kind& kind : Kinds()) {
    std::string log;
    if (kind.setUp) {
      ResetMachine();
      kind.setUp(TheMachine());
      RunPatchUpdate();
      log = TheMachine().FileText(L"C:\\Patch\\Log_VDT_14_PatchUpdate.txt");
      if (kind.outcome == result::Outcome::kUnreadable) log.resize(log.size() / 2);
    }
    logs.push_back(log);
  }
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::map<result::Outcome, std::size_t> expected;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t k = i % Kinds().size();
    const Kind& kind = Kinds()[k];
    const std::string machine = "PC" + std::to_string(10000 + i);
    ++expected[kind.outcome];
    fs::path file;
    std::string bytes;
    if (!kind.setUp) {
      result::OutcomeRecord record;
      record.machine = std::wstring(machine.begin(), machine.end());
      record.time = L"2026-12-09T03:30:05";
      record.outcome = kind.outcome;
      record.code = result::ExitCodeOf(kind.outcome);
      record.reason = L"no log from this run, and the console names no outcome";
      file = folder / "collected" / (machine + ".json");
      bytes = result::FormatOutcomeRecord(record);
    } else {
      // The three ways logs come back: a folder per machine, a renamed file, a prefixed file.
      switch (i % 3) {
        case 0: file = folder / machine / "Log_VDT_14_PatchUpdate.txt"; break;
        case 1: file = folder / (machine + ".txt"); break;
        default: file = folder / (machine + "_Log_VDT_14_PatchUpdate.txt"); break;
      }
      bytes = logs[k];
    }
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  return expected;
}

}  // namespace fake::fleet
