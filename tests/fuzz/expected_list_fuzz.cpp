// Feeds arbitrary bytes to the expected-list reader, which reads whatever export or editor made the
// administrator's list: it must answer, never crash; what it holds are names a machine could bear, each
// once, and every one of them is found again as the report looks machines up.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "platform/utf8.h"
#include "result/expected_machines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  result::ExpectedList list = result::ParseExpectedList(std::span<const std::uint8_t>(data, size));
  // Either a reason or names, never both, never neither.
  if (list.problem.empty() == list.machines.empty()) std::abort();
  if (list.passedOver > 0 && list.firstPassedOver == 0) std::abort();
  for (const auto& machine : list.machines) {
    if (machine.name.empty() || platform::FromUtf8(machine.name).size() > result::kMaxExpectedNameChars) std::abort();
    for (const char c : machine.name) {
      if ((c >= 0 && c < 0x20) || c == '.' || c == '\\' || c == '/') std::abort();
    }
  }
  const std::size_t count = list.size();
  for (std::size_t i = 0; i < count; ++i) {
    // A host name of the listed machine is that machine, in either case.
    std::wstring name = platform::FromUtf8(list.machines[i].name);
    for (wchar_t& c : name) c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    if (!list.See(name + L".corp.example")) std::abort();
  }
  if (!list.Unseen().empty()) std::abort();
  return 0;
}
