// Feeds arbitrary bytes as registry value data: the decoding, and the probes that store it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/patch_execute.h"
#include "discovery/registry_probes.h"
#include "fake/fake_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const std::wstring text = DecodeRegistryString(bytes);
  if (text.size() > size / 2 || text.find(L'\0') != std::wstring::npos) std::abort();

  fake::ResetMachine();
  auto& machine = fake::TheMachine();
  const std::wstring product = L"SOFTWARE\\Wow6432Node\\KORVEN Software Inc.\\VeldoRant\\14.0";
  machine.AddKey(L"SOFTWARE\\Wow6432Node");
  machine.registry[product].values[L"Version"] = bytes;
  machine.registry[product].values[L"Installpath"] = bytes;
  {
    const CPatchExecute run;
    if (machine.openKeyCount != 0) std::abort();  // no path may leave a key open
    const bool fits = size <= 256;
    if (fits && run.m_strProductVersion != text) std::abort();
    if (!fits && !run.m_strProductVersion.empty()) std::abort();
  }
  return 0;
}
