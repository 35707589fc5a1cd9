// The result codes of a drive's update and of the whole run. A drive's
// update path returns one of the four; the final result (the process's exit
// status) is 0, 1 or 1602.
#pragma once

#include <cstdint>

namespace zev {

inline constexpr std::int32_t kResultSuccess = 0;
inline constexpr std::int32_t kResultFailure = 1;
// A drive or port that cannot be opened, or a request that failed.
inline constexpr std::int32_t kResultRequestFailed = 5;
// Downloaded; active only after a shutdown or power cycle.
inline constexpr std::int32_t kResultRebootRequired = 1602;
// A check that found no drive needing the update (and examined every disk).
inline constexpr std::int32_t kNoUpdateNeeded = 2;

}  // namespace zev
