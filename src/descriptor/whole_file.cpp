#include "descriptor/whole_file.h"

#include "app/patch_execute.h"

std::wstring AnsiBytesToText(const std::vector<std::uint8_t>& bytes) { (void)bytes; return {}; }

std::wstring DescribeFileError(std::uint32_t code, const std::wstring& path) {
  (void)code;
  return path;
}

std::wstring CPatchExecute::ReadWholeFile(const std::wstring& path, bool forRecord) {
  (void)path;
  (void)forRecord;
  return {};
}
