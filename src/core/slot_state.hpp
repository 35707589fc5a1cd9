// What a drive's firmware slots hold, as a check's read-only slot read found
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/step_outcome.hpp"

namespace zev {

struct SlotState {
  std::uint8_t activeSlot = 0;
  std::optional<std::uint8_t> pendingSlot;  // the slot active after the next reset
  // The revision bytes of slots 1, 2, ... (8 bytes, or 16 from the Intel
  // interface); a slot the reply does not describe is absent.
  std::vector<std::optional<std::vector<std::uint8_t>>> revisions;
  // What the reply says of the slots themselves, when it says it: the slot
  // count, whether slot 1 is read-only, whether the drive can be upgraded.
  std::optional<std::uint8_t> slotCount;
  std::optional<bool> slot1ReadOnly;
  std::optional<bool> upgradeSupport;
};

// A slot read: the slots, or nullopt when the drive or port could not be
// opened, the request failed or the reply did not describe them; step says
// which (code 0 when the slots were read).
struct SlotRead {
  std::optional<SlotState> slots;
  StepOutcome step;
  // When the read is the update's own first request (the inbox slot
  // information) and its answer would stop the update: the update's own
  // diagnostic text for it.
  std::optional<std::string> updateNotPossible;
  // The read's own open among the counted opens of the device it opened
  // (core/counted_open.hpp); 0 when it opened neither or they were not
  // counted.
  std::uint32_t openNth = 0;
};

}  // namespace zev
