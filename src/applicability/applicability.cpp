#include "applicability/applicability.h"

#include "app/patch_execute.h"

int ReadLeadingInteger(const std::wstring& text) { (void)text; return 0; }

bool IsUpdateRecorded(const std::wstring& recordText, const std::wstring& patchInfo, int installedRevision,
                      int patchRevision) {
  (void)recordText;
  (void)patchInfo;
  return installedRevision >= patchRevision;
}

void CPatchExecute::DecideApplicability() {}
bool CPatchExecute::IsPatchVersionInstalled() const { return false; }
bool CPatchExecute::IsExeVersionInPreviousVersions() const { return false; }
