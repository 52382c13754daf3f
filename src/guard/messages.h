// The guard's one message: the console line, and the whole log text of a blocked run.
#pragma once

namespace messages::guard {

inline constexpr wchar_t kBlockedMessage[] =
    L"Patch update status: Please check and close Veldorant/Excel application,if open.\n";

}  // namespace messages::guard
