// Helpers shared by the tests that drive one operation of the run object at a time.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/patch_execute.h"
#include "fake/fake_machine.h"

namespace test {

// A run object in the state its constructor starts from. It is built on an empty machine, so the
// validation and descriptor read of its constructor find nothing and leave no trace on the machine
// the test has set up; its state is then put back to the initial one, with `state` in it.
inline std::unique_ptr<CPatchExecute> NewIdleRun(RunState state = {}) {
  fake::Machine prepared = std::move(fake::TheMachine());
  fake::ResetMachine();
  auto run = std::make_unique<CPatchExecute>();
  fake::TheMachine() = std::move(prepared);
  static_cast<RunState&>(*run) = std::move(state);
  return run;
}

// The log text cut into its entries; an entry without its blank line is marked so a check fails.
inline std::vector<std::wstring> LogEntries(const std::wstring& log) {
  std::vector<std::wstring> entries;
  std::size_t start = 0;
  while (start < log.size()) {
    const auto end = log.find(L"\n\n", start);
    if (end == std::wstring::npos) {
      entries.push_back(log.substr(start) + L"<no blank line>");
      break;
    }
    entries.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return entries;
}

}  // namespace test
