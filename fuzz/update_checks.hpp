// The checks every update-path fuzz target makes after an update: no drive
// commits after one of its downloads was reported failed, a failed download
// or activation never comes back as success, and no handle stays open.
#pragma once

#include <algorithm>

#include "fuzz_machine.hpp"

namespace zevfuzz {

inline void checkUpdateOutcome(FuzzMachine& sim, int result) {
  if (result != 0 && result != 1 && result != 5 && result != 1602) {
    invariantBroken("update result outside 0, 1, 5, 1602");
  }
  if (sim.activationFollowedFailedDownload()) {
    invariantBroken("activation after a failed download");
  }
  const auto& seen = sim.observations();
  const bool failedRequest = std::any_of(seen.begin(), seen.end(), [](const DriveObservation& o) {
    return o.downloadReportedFailed || o.activateReportedFailed;
  });
  if (failedRequest && (result == 0 || result == 1602)) {
    invariantBroken("a failed download or activation reported as success");
  }
  if (sim.machine().handlesLeftOpen() != 0) {
    invariantBroken("handles left open");
  }
}

}  // namespace zevfuzz
