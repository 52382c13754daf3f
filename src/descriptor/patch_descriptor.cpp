#include "descriptor/patch_descriptor.h"

#include "app/patch_execute.h"

std::wstring RemoveLineBreaks(const std::wstring& text) { return text; }

std::wstring GetKeyValue(const std::wstring& slice, const std::wstring& separator) {
  (void)slice;
  (void)separator;
  return {};
}

void CPatchExecute::ReadPatchDescriptor() {}
void CPatchExecute::ParsePatchDescriptor(const std::wstring& text) { (void)text; }
bool CPatchExecute::LoadPreviousVersions(const std::wstring& value) { (void)value; return false; }
void CPatchExecute::SetPatchVersion(const std::wstring& value) { (void)value; }
