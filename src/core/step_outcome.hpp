// What one step did for one disk (an open, a device-number request, an
// identification, an update, a slot read): its code and the text of the
// diagnostic line it printed. The step prints from this value and returns
// it, so that whoever records the drive's outcome never reads the console.
#pragma once

#include <cstdint>
#include <string>

namespace zev {

struct StepOutcome {
  // The step's own code: 0 for success; for an update, the per-drive result
  // code (0, 1, 5 or 1602).
  int code = 0;
  // The first diagnostic line the step printed, without "  [ERROR] " and its
  // line ends; empty when it printed none.
  std::string diagnostic;
  // GetLastError of the failing call, when a platform call failed; else 0.
  std::uint32_t systemError = 0;
};

}  // namespace zev
