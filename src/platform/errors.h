// Windows error numbers the portable code tells apart, and the system's own wording of any code.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoAssociation = 1155;
inline constexpr std::uint32_t kErrorDdeFail = 1156;
inline constexpr std::uint32_t kErrorDllNotFound = 1157;
inline constexpr std::uint32_t kErrorCancelled = 1223;

// The system's message for an error code, without a trailing line end; empty when it has none.
std::wstring SystemErrorText(std::uint32_t code);

}  // namespace platform
