// The one rule that turns the drives' outcomes into the run's result: the
// exit status and the final result's text, for an update and for a check.
// The log, the results file, the end line and the message box only render it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/disk_info.hpp"

namespace zev {

enum class RunMode { Update, Check };

struct RunResult {
  std::int32_t exitStatus = 0;
  // The final result's "Result Details" text, without a line end.
  std::string details;
  // An update that selected no drive (the log's "[No Disk]" block).
  bool noDiskSelected = false;
};

// runError: a failure of the whole run before any drive was touched.
// An update: 1 for a run error, no selected drive, a drive that failed (any
// code but 0 and 1602) or a disk not examined; else 1602 when a drive needs a
// shutdown or power cycle; else 0. A check: 1 for a run error, a disk not
// examined or a drive whose update is not possible; else 0 when a drive has
// the update available; else 2.
RunResult runResultOf(RunMode mode, const std::vector<DriveOutcome>& outcomes,
                      const std::optional<std::string>& runError);

}  // namespace zev
