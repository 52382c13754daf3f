// Whole runs with one fault injected each: a failing installer, files held open or in the way, a record
// write that fails part-way, a log that can't be replaced. Every run must end with exit code 0, log what
// happened in order, pause as usual, and lose nothing: the previous record stays byte for byte unless
// the patch was verified, and a log that can't be written keeps its old content.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fake/fake_machine.h"
#include "fake/sample_installation.h"
#include "expected_texts.h"

namespace {

using namespace fake::sample;
using namespace expect;

constexpr char kOldRecord[] = "Veldorant 14.0 Update 1";
constexpr char kNewRecord[] = "Veldorant 14.0 Update 2";
constexpr char kOldLog[] = "log of an earlier run\r\n";

// Console lines of a run that installs.
const std::wstring kInstalling = kValidatingConsole + kInstallingConsole;
const std::wstring kInstalledConsole = kInstalling + kCompletedConsole + kWaitToCloseConsole;
const std::wstring kFailedConsole = kInstalling + kUpdateFailedConsole + kWaitToCloseConsole;
const std::wstring kVersionMismatchConsole = kInstalling + kMismatchConsole + kWaitToCloseConsole;

// Log entries.
using Entries = std::vector<std::wstring>;
const Entries kValidated = {kMode1, kVersionCompleted, kInstallPathCompleted, kDisplayIconCompleted};
const Entries kDescriptorRead = {kDescriptorReadCompleted, kKeysFound};
const Entries kDecidedFromRecord = {kRecordExists, kRecordReadCompleted, kFoundExit1};
const std::wstring kRecordFile = L"C:\\Program Files\\Veldorant 14.0\\installedupdates.dat";

// The record couldn't be read (the fake words error N as "System error N."): revisions 100 < 200 decide.
std::wstring FileError(int error) { return L"System error " + std::to_wstring(error) + L". File: " + kRecordFile; }
Entries DecidedByRevisions(int error) { return {kRecordExists, FileError(error), kRecordReadFailed, kFoundExit1}; }
std::wstring RecordWriteFailed(int error) { return kRecordWriteFailed + FileError(error); }

Entries Join(std::initializer_list<Entries> parts) {
  Entries all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Version 14.0.0.100 installed the usual way with an older record, the patch package beside the utility,
// and an installer that puts 14.0.0.200 in place.
void PutInstallationAndPackage(fake::Machine& m) {
  fake::sample::InstallProduct(m);
  fake::sample::PutPatchPackage(m);
  m.AddFile(kRecordPath, kOldRecord);
  m.AddFile(expect::kLogPath, kOldLog);
}

class FaultInjectionTest : public fake::FakeMachineTest {};

TEST_F(FaultInjectionTest, RunPatchUpdate_OneFault_EndsNormallyLogsInOrderAndLosesNothing) {
  const struct {
    const char* name;
    std::function<void(fake::Machine&)> fault;
    std::wstring console;
    std::optional<Entries> entries;  // nullopt: the log can't be written and keeps its old content
    std::uint32_t pause;
    std::size_t launches;
    bool patched;  // the executable carries 14.0.0.200 and the record names the new patch
  } kCases[] = {
      // --- The installer fails; only the version it leaves counts ---
      {"installer crashes or exits with an error having done nothing",
       [](fake::Machine& m) { m.installer = [](fake::Machine&) {}; }, kVersionMismatchConsole,
       Join({kValidated, kDescriptorRead, kDecidedFromRecord, {kInstallMismatch}}),
       10000, 1, false},
      {"installer leaves the executable without version resource",
       [](fake::Machine& m) {
         m.installer = [](fake::Machine& machine) {
           machine.files[kProductExe] = fake::FileState{};
           machine.files[kProductExe].bytes = {'M', 'Z', 0};
         };
       },
       kFailedConsole,
       Join({kValidated, kDescriptorRead, kDecidedFromRecord, {kInstallCancelled}}),
       10000, 1, false},

      // --- Files held open by another program, or in the way ---
      {"descriptor held open", [](fake::Machine& m) { m.files[kDescriptorPath].locked = true; }, kValidatingConsole,
       Join({kValidated, {L"System error 32. File: C:\\Patch\\patchupdate.dat", kDescriptorReadFailed, kKeysExit1}}),
       7000, 0, false},
      {"record held open: read and write both fail",
       [](fake::Machine& m) { m.files[kRecordPath].locked = true; }, kFailedConsole,
       Join({kValidated, kDescriptorRead, DecidedByRevisions(32), {RecordWriteFailed(32), kInstallNotCompleted}}), 10000,
       1, false},
      {"record is a folder",
       [](fake::Machine& m) {
         m.files[kRecordPath] = fake::FileState{};
         m.files[kRecordPath].isFolder = true;
       },
       kFailedConsole,
       Join({kValidated, kDescriptorRead, DecidedByRevisions(5), {RecordWriteFailed(5), kInstallNotCompleted}}), 10000, 1,
       false},
      {"record write fails part-way (disk full)",
       [](fake::Machine& m) { m.replaceErrors[kRecordPath] = 112; }, kFailedConsole,
       Join({kValidated, kDescriptorRead, kDecidedFromRecord, {RecordWriteFailed(112), kInstallNotCompleted}}), 10000, 1,
       false},

      // --- The log can't be replaced: the patch still goes in, and nothing is said about the log ---
      {"log read-only", [](fake::Machine& m) { m.files[expect::kLogPath].readOnly = true; }, kInstalledConsole,
       std::nullopt, 10000, 1, true},
      {"log locked", [](fake::Machine& m) { m.files[expect::kLogPath].locked = true; }, kInstalledConsole,
       std::nullopt, 10000, 1, true},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    PutInstallationAndPackage(machine());
    row.fault(machine());
    const fake::FileState recordBefore = machine().files[kRecordPath];

    EXPECT_EQ(RunPatchUpdate(), 0);

    EXPECT_EQ(machine().console, row.console);
    EXPECT_EQ(machine().FileText(expect::kLogPath),
              row.entries ? expect::RunLogFile(expect::Entries(*row.entries)) : std::string(kOldLog));
    EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{row.pause});
    EXPECT_EQ(machine().launches.size(), row.launches);
    EXPECT_EQ(machine().trace.back(), L"write " + expect::kLogPath);  // the log is the run's last act
    const fake::FileState& record = machine().files[kRecordPath];
    if (row.patched) {
      EXPECT_EQ(machine().FileText(kRecordPath), kNewRecord);
    } else {
      EXPECT_EQ(record.bytes, recordBefore.bytes);
      EXPECT_EQ(record.isFolder, recordBefore.isFolder);
    }
    EXPECT_EQ(machine().FileText(kDescriptorPath), kDescriptor);
    EXPECT_EQ(machine().openKeyCount, 0);
    EXPECT_EQ(machine().openProcessHandles, 0);
  }
}

}  // namespace
