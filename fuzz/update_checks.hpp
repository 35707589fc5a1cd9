// The checks every update-path fuzz target makes after an update: no drive
// commits after one of its downloads was reported failed, a failed download
// or activation never comes back as success, and no handle stays open; and
// after the check's slot read on the same hostile driver.
#pragma once

#include <algorithm>

#include <optional>

#include "fuzz_machine.hpp"
#include "update/slot_reads.hpp"

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

// After a read-only slot read of the check on the hostile driver: nothing
// stays open, and a slot it reports lies among the NVMe slots 1 to 7.
inline void checkSlotRead(FuzzMachine& sim, const zev::SlotRead& read) {
  const std::optional<zev::SlotState>& slots = read.slots;
  if (sim.machine().handlesLeftOpen() != 0) {
    invariantBroken("handles left open by a slot read");
  }
  if (slots && ((slots->pendingSlot && (*slots->pendingSlot < 1 || *slots->pendingSlot > 7)) ||
                slots->revisions.size() > 7)) {
    invariantBroken("a slot read reports a slot outside 1 to 7");
  }
}

}  // namespace zevfuzz
