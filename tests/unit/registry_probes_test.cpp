// Registry view detection and the three product probes against the fake registry: the entries they
// log, in order, what they store, the view flag afterwards, and that no key is left open.
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/patch_execute.h"
#include "discovery/registry_probes.h"
#include "expected_texts.h"
#include "fake/fake_machine.h"
#include "run_under_test.h"

namespace {

constexpr wchar_t kWow6432Node[] = L"SOFTWARE\\Wow6432Node";
constexpr wchar_t kProductWow[] = L"SOFTWARE\\Wow6432Node\\KORVEN Software Inc.\\VeldoRant\\14.0";
constexpr wchar_t kProductPlain[] = L"SOFTWARE\\KORVEN Software Inc.\\VeldoRant\\14.0";
constexpr wchar_t kUninstallWow[] =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veldorant 14.0";
constexpr wchar_t kUninstallPlain[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veldorant 14.0";

using expect::kMode1;
using expect::kMode2;
using expect::kVersionCompleted;
using expect::kInstallPathCompleted;
using expect::kDisplayIconCompleted;

// A member's value before a probe runs, so "unchanged" can't pass by being empty.
constexpr wchar_t kBefore[] = L"<before>";

using Entries = std::vector<std::wstring>;

std::vector<std::uint8_t> Bytes(const std::wstring& text, bool withNul = true) {
  return fake::Utf16Bytes(text, withNul);
}

class RegistryProbesTest : public fake::FakeMachineTest {
 protected:
  // The constructor validates the installation itself; the probes are tested from a clean object
  // on a machine that saw none of that.
  void SetUp() override {
    fake::FakeMachineTest::SetUp();
    run_ = test::NewIdleRun({.m_strProductVersion = kBefore, .m_strDisplayIcon = kBefore, .m_strInstallPath = kBefore});
  }
  CPatchExecute& run() { return *run_; }
  Entries entries() { return test::LogEntries(run_->m_strLog); }

 private:
  std::unique_ptr<CPatchExecute> run_;
};

// ---------------------------------------------------------------------------------------------
// Free helpers

TEST(FormatErrorCodeTest, Codes_SignedDecimalLikePercentLd) {
  const struct {
    std::int32_t code;
    const wchar_t* text;
  } kCases[] = {
      {0, L"0"},
      {2, L"2"},
      {234, L"234"},
      {-1, L"-1"},
      {INT32_MAX, L"2147483647"},
      {INT32_MIN, L"-2147483648"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(FormatErrorCode(row.code), row.text);
  }
}

TEST(DecodeRegistryStringTest, Bytes_TextUpToFirstNulWithinCount) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::wstring text;
  } kCases[] = {
      // Ordinary strings
      {"no bytes", {}, L""},
      {"only the NUL", Bytes(L""), L""},
      {"with NUL", Bytes(L"14.0"), L"14.0"},
      {"trailing blank kept", Bytes(L"14.0 "), L"14.0 "},
      {"non-ASCII units", Bytes(L"C:\\Programme\\\u00C9t\u03A9"), L"C:\\Programme\\\u00C9t\u03A9"},
      // Data that isn't a clean REG_SZ
      {"no NUL at all (e.g. REG_BINARY)", Bytes(L"14.0", false), L"14.0"},
      {"embedded NUL ends the text", {'1', 0, '4', 0, 0, 0, 'x', 0, 0, 0}, L"14"},
      {"odd byte count drops the last byte", {'1', 0, '4', 0, '.'}, L"14"},
      {"single byte", {'1'}, L""},
      {"high byte set", {0x34, 0x12, 0x00, 0xFF}, std::wstring{wchar_t{0x1234}, wchar_t{0xFF00}}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DecodeRegistryString(row.bytes), row.text);
  }
}

TEST_F(RegistryProbesTest, SetProductVersion_EmptyOrNot_OnlyNonEmptyStored) {
  run().SetProductVersion(L"");
  EXPECT_EQ(run().m_strProductVersion, kBefore);
  run().SetProductVersion(L"14.0");
  EXPECT_EQ(run().m_strProductVersion, L"14.0");
}

// ---------------------------------------------------------------------------------------------
// DetectRegistryView

TEST_F(RegistryProbesTest, DetectRegistryView_Outcomes_FlagAndEntries) {
  const struct {
    const char* name;
    bool keyPresent;
    std::int32_t openError;
    bool flagAtStart;
    bool result;
    Entries entries;
  } kCases[] = {
      {"present", true, 0, false, true, {kMode1}},
      {"absent", false, 0, true, false, {kMode2}},
      {"open fails with 2", true, 2, true, false, {kMode2}},
      {"access denied", true, 5, true, false, {L"Registry bit support verification error: ", L"Error : 5"}},
      {"other code", false, 1018, true, false, {L"Registry bit support verification error: ", L"Error : 1018"}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    SetUp();
    if (row.keyPresent) machine().AddKey(kWow6432Node);
    if (row.openError != 0) machine().openErrors[kWow6432Node] = row.openError;
    run().m_bWow64Registry = row.flagAtStart;

    EXPECT_EQ(run().DetectRegistryView(), row.result);
    EXPECT_EQ(run().m_bWow64Registry, row.result);
    EXPECT_EQ(entries(), row.entries);
    EXPECT_EQ(machine().openKeyCount, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// ProbeProductVersion

// One product key as the registry holds it.
struct KeySetup {
  bool present = false;
  std::int32_t openError = 0;
  std::optional<std::vector<std::uint8_t>> version;  // raw "Version" data; none: no value
  std::int32_t queryError = 0;
};

void Arrange(fake::Machine& machine, const std::wstring& path, const KeySetup& key) {
  if (key.present) machine.AddKey(path);
  if (key.openError != 0) machine.openErrors[path] = key.openError;
  if (key.version) machine.registry[path].values[L"Version"] = *key.version;
  if (key.queryError != 0) machine.registry[path].queryErrors[L"Version"] = key.queryError;
}

const KeySetup kNoKey{false, 0, std::nullopt, 0};
const KeySetup kKeyWithoutVersion{true, 0, std::nullopt, 0};
KeySetup KeyWithVersion(const std::wstring& text) { return {true, 0, Bytes(text), 0}; }
KeySetup KeyOpenFails(std::int32_t code) { return {true, code, Bytes(L"14.0"), 0}; }
KeySetup KeyQueryFails(std::int32_t code) { return {true, 0, Bytes(L"13.0"), code}; }

TEST_F(RegistryProbesTest, ProbeProductVersion_Outcomes_EntriesVersionAndFlag) {
  const std::wstring k127(127, L'7');
  const std::wstring k128(128, L'8');
  const std::wstring& kCompleted = kVersionCompleted;
  const std::wstring& kEmpty = expect::kVersionValueEmpty;
  const std::wstring kQueryFailed = L"Client side update check, level version (L1) failed";
  const std::wstring kOpenFailed = L"Client side update check, level version failed.";
  const std::wstring kAddOnOpenFailed = L"Client side update check, level version add-on failed.";
  const std::wstring kAddOnQueryFailed = L"Client side update check, level version (L1) add-on failed";
  const std::wstring kAddOnEmpty = L"Client side update check, level version (L1) add-on failed. Value not found.";
  const std::wstring kAddOnAfterValueMissing = L"Client side update check,level version (L1) add-on completed.";
  const std::wstring kAddOnAfterKeyMissing = L"Client side update check, level version (L1) add-on completed.";

  const struct {
    const char* name;
    bool flagAtStart;
    KeySetup first;  // under the flag's path
    KeySetup plain;  // under the plain path; only looked at by the fallback (flag true)
    Entries entries;
    std::wstring version;
    bool flagAfter;
  } kCases[] = {
      // The first key decides, either flag
      {"wow: value", true, KeyWithVersion(L"14.0"), kNoKey, {kCompleted}, L"14.0", true},
      {"plain: value", false, KeyWithVersion(L"14.0"), kNoKey, {kCompleted}, L"14.0", false},
      {"value with trailing blank kept", false, KeyWithVersion(L"14.0 "), kNoKey, {kCompleted}, L"14.0 ", false},
      {"127 characters fit", true, KeyWithVersion(k127), kNoKey, {kCompleted}, k127, true},
      {"wow: empty value, no fallback", true, KeyWithVersion(L""), KeyWithVersion(L"14.0"), {kEmpty}, kBefore,
       true},
      {"plain: empty value", false, KeyWithVersion(L""), kNoKey, {kEmpty}, kBefore, false},
      {"wow: query denied", true, KeyQueryFails(5), KeyWithVersion(L"14.0"),
       {kQueryFailed, L"Error : 5"}, kBefore, true},
      {"plain: query denied", false, KeyQueryFails(5), kNoKey, {kQueryFailed, L"Error : 5"}, kBefore,
       false},
      {"wow: 128 characters", true, KeyWithVersion(k128), KeyWithVersion(L"14.0"), {kQueryFailed, L"Error : 234"},
       kBefore, true},
      {"plain: 128 characters", false, KeyWithVersion(k128), kNoKey, {kQueryFailed, L"Error : 234"}, kBefore,
       false},
      {"wow: open denied", true, KeyOpenFails(5), KeyWithVersion(L"14.0"), {kOpenFailed, L"Error : 5"}, kBefore, true},
      {"plain: open denied", false, KeyOpenFails(5), kNoKey, {kOpenFailed, L"Error : 5"}, kBefore, false},

      // Missing under the plain path: silence, validation reports it
      {"plain: no Version value", false, kKeyWithoutVersion, kNoKey, {}, kBefore, false},
      {"plain: no key", false, kNoKey, kNoKey, {}, kBefore, false},
      {"plain: query fails with 2", false, KeyQueryFails(2), kNoKey, {}, kBefore, false},

      // Missing under the Wow6432Node path: the fallback
      {"fallback: plain key missing", true, kNoKey, kNoKey, {kAddOnOpenFailed, L"Error : 2"}, kBefore, true},
      {"fallback: plain key denied", true, kKeyWithoutVersion, KeyOpenFails(5), {kAddOnOpenFailed, L"Error : 5"},
       kBefore, true},
      {"fallback: plain value missing", true, kKeyWithoutVersion, kKeyWithoutVersion,
       {kAddOnQueryFailed, L"Error : 2"}, kBefore, true},
      {"fallback: plain value 128 characters", true, kNoKey, KeyWithVersion(k128), {kAddOnQueryFailed, L"Error : 234"},
       kBefore, true},
      {"fallback: plain value empty", true, kNoKey, KeyWithVersion(L""), {kAddOnEmpty, kMode2}, kBefore, false},
      {"fallback: after missing value", true, kKeyWithoutVersion, KeyWithVersion(L"14.0"),
       {kAddOnAfterValueMissing, kMode2}, L"14.0", false},
      {"fallback: after query failing with 2", true, KeyQueryFails(2), KeyWithVersion(L"14.0"),
       {kAddOnAfterValueMissing, kMode2}, L"14.0", false},
      {"fallback: after missing key", true, kNoKey, KeyWithVersion(L"14.0"), {kAddOnAfterKeyMissing, kMode2}, L"14.0",
       false},
      {"fallback: after open failing with 2", true, KeyOpenFails(2), KeyWithVersion(L"14.0"),
       {kAddOnAfterKeyMissing, kMode2}, L"14.0", false},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    SetUp();
    if (row.flagAtStart) {
      Arrange(machine(), kProductWow, row.first);
      Arrange(machine(), kProductPlain, row.plain);
    } else {
      Arrange(machine(), kProductPlain, row.first);
      // A product under the other view must not be seen.
      Arrange(machine(), kProductWow, KeyWithVersion(L"wrong view"));
    }
    run().m_bWow64Registry = row.flagAtStart;

    run().ProbeProductVersion();

    EXPECT_EQ(entries(), row.entries);
    EXPECT_EQ(run().m_strProductVersion, row.version);
    EXPECT_EQ(run().m_bWow64Registry, row.flagAfter);
    EXPECT_EQ(machine().openKeyCount, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// ProbeInstallPath and ProbeDisplayIcon: the common pattern under either view

struct ProbeUnderTest {
  const char* name;
  void (CPatchExecute::*probe)();
  std::wstring RunState::*member;
  const wchar_t* wowKey;
  const wchar_t* plainKey;
  const wchar_t* valueName;
  const wchar_t* completed;
  const wchar_t* emptyValue;
  const wchar_t* queryFailed;
  const wchar_t* openFailed;
};

const ProbeUnderTest kCommonProbes[] = {
    {"level three", &CPatchExecute::ProbeInstallPath, &RunState::m_strInstallPath, kProductWow, kProductPlain,
     L"Installpath", L"Client side update check, level three completed.",
     L"Client side update check, level three failed. Value not found. ",
     L"Client side update check, level three (L1) failed", L"Client side update check, level three failed."},
    {"level two", &CPatchExecute::ProbeDisplayIcon, &RunState::m_strDisplayIcon, kUninstallWow, kUninstallPlain,
     L"DisplayIcon", L"Client side update check, level two completed.",
     L"Client side update check, level two failed. Value not found. ",
     L"Client side update check, level two (L1) failed", L"Client side update check, level two failed."},
};

class CommonProbeTest : public RegistryProbesTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CommonProbeTest, Probe_Outcomes_EntriesAndMember) {
  enum class Outcome { kCompleted, kEmptyValue, kQueryFailed, kOpenFailed };
  const std::wstring k127 = L"C:\\" + std::wstring(124, L'p');
  const std::wstring k128 = k127 + L"q";
  const struct {
    const char* name;
    bool keyPresent;
    std::int32_t openError;
    std::optional<std::vector<std::uint8_t>> data;
    std::int32_t queryError;
    Outcome outcome;
    std::wstring stored;     // kCompleted
    std::int32_t code;       // kQueryFailed, kOpenFailed
  } kCases[] = {
      // Read
      {"trailing backslash kept", true, 0, Bytes(L"C:\\Program Files\\KORVEN\\"), 0, Outcome::kCompleted,
       L"C:\\Program Files\\KORVEN\\", 0},
      {"127 characters", true, 0, Bytes(k127), 0, Outcome::kCompleted, k127, 0},
      {"non-string type read as text", true, 0, Bytes(L"D:\\Vdt", false), 0, Outcome::kCompleted, L"D:\\Vdt", 0},
      {"empty value", true, 0, Bytes(L""), 0, Outcome::kEmptyValue, L"", 0},
      // Query failed
      {"no value", true, 0, std::nullopt, 0, Outcome::kQueryFailed, L"", 2},
      {"query denied", true, 0, Bytes(L"C:\\X"), 5, Outcome::kQueryFailed, L"", 5},
      {"128 characters", true, 0, Bytes(k128), 0, Outcome::kQueryFailed, L"", 234},
      // Open failed
      {"no key", false, 0, std::nullopt, 0, Outcome::kOpenFailed, L"", 2},
      {"open denied", true, 5, Bytes(L"C:\\X"), 0, Outcome::kOpenFailed, L"", 5},
  };
  const bool wow64 = GetParam();
  for (const auto& probe : kCommonProbes) {
    for (const auto& row : kCases) {
      SCOPED_TRACE(std::string(probe.name) + ": " + row.name);
      SetUp();
      const std::wstring path = wow64 ? probe.wowKey : probe.plainKey;
      const std::wstring otherPath = wow64 ? probe.plainKey : probe.wowKey;
      machine().SetRegistryString(otherPath, probe.valueName, L"wrong view");
      if (row.keyPresent) machine().AddKey(path);
      if (row.openError != 0) machine().openErrors[path] = row.openError;
      if (row.data) machine().registry[path].values[probe.valueName] = *row.data;
      if (row.queryError != 0) machine().registry[path].queryErrors[probe.valueName] = row.queryError;
      run().m_bWow64Registry = wow64;

      (run().*probe.probe)();

      Entries expected;
      std::wstring member = kBefore;
      switch (row.outcome) {
        case Outcome::kCompleted:
          expected = {probe.completed};
          member = row.stored;
          break;
        case Outcome::kEmptyValue:
          expected = {probe.emptyValue};
          break;
        case Outcome::kQueryFailed:
          expected = {probe.queryFailed, L"Error : " + std::to_wstring(row.code)};
          break;
        case Outcome::kOpenFailed:
          expected = {probe.openFailed, L"Error : " + std::to_wstring(row.code)};
          break;
      }
      EXPECT_EQ(entries(), expected);
      EXPECT_EQ(run().*probe.member, member);
      EXPECT_EQ(run().m_bWow64Registry, wow64);
      EXPECT_EQ(machine().openKeyCount, 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RegistryView, CommonProbeTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& view) {
                           return view.param ? "Wow6432Node" : "Plain";
                         });

// ---------------------------------------------------------------------------------------------
// The probes in validation's order: the view chosen first carries over to the later probes

TEST_F(RegistryProbesTest, ProbesInOrder_ViewSwitches_LaterProbesFollowTheFlag) {
  const struct {
    const char* name;
    void (*arrange)(fake::Machine&);
    Entries entries;
    std::vector<std::wstring> openedKeys;
    std::wstring installPath;
    std::wstring displayIcon;
  } kCases[] = {
      {"no Wow6432Node: plain paths throughout",
       [](fake::Machine& m) {
         m.SetRegistryString(kProductPlain, L"Version", L"14.0");
         m.SetRegistryString(kProductPlain, L"Installpath", L"C:\\Vdt");
         m.SetRegistryString(kUninstallPlain, L"DisplayIcon", L"C:\\Vdt\\Vdt.exe");
       },
       {kMode2, kVersionCompleted, kInstallPathCompleted, kDisplayIconCompleted},
       {kProductPlain, kProductPlain, kUninstallPlain},
       L"C:\\Vdt",
       L"C:\\Vdt\\Vdt.exe"},
      {"product only under the plain path: fallback switches the view",
       [](fake::Machine& m) {
         m.AddKey(kWow6432Node);
         m.SetRegistryString(kProductPlain, L"Version", L"14.0");
         m.SetRegistryString(kProductPlain, L"Installpath", L"C:\\Vdt");
         m.SetRegistryString(kUninstallPlain, L"DisplayIcon", L"C:\\Vdt\\Vdt.exe");
       },
       {kMode1, L"Client side update check, level version (L1) add-on completed.", kMode2,
        kInstallPathCompleted, kDisplayIconCompleted},
       {kWow6432Node, kProductPlain, kProductPlain, kUninstallPlain},
       L"C:\\Vdt",
       L"C:\\Vdt\\Vdt.exe"},
      {"failed fallback keeps the Wow6432Node paths",
       [](fake::Machine& m) {
         m.AddKey(kWow6432Node);
         m.SetRegistryString(kProductWow, L"Installpath", L"C:\\Wow");
         m.SetRegistryString(kUninstallWow, L"DisplayIcon", L"C:\\Wow\\Vdt.exe");
         m.SetRegistryString(kProductPlain, L"Installpath", L"C:\\Plain");
       },
       {kMode1, L"Client side update check, level version (L1) add-on failed", L"Error : 2",
        kInstallPathCompleted, kDisplayIconCompleted},
       {kWow6432Node, kProductWow, kProductPlain, kProductWow, kUninstallWow},
       L"C:\\Wow",
       L"C:\\Wow\\Vdt.exe"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    SetUp();
    row.arrange(machine());

    run().DetectRegistryView();
    run().ProbeProductVersion();
    run().ProbeInstallPath();
    run().ProbeDisplayIcon();

    EXPECT_EQ(entries(), row.entries);
    EXPECT_EQ(machine().openedKeys, row.openedKeys);
    EXPECT_EQ(run().m_strInstallPath, row.installPath);
    EXPECT_EQ(run().m_strDisplayIcon, row.displayIcon);
    EXPECT_EQ(machine().openKeyCount, 0);
  }
}

}  // namespace
