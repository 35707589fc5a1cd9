// The slots a firmware-information reply describes.
#include "update/slot_reads.hpp"

#include "records/nvme_command.hpp"

namespace zev {

SlotState slotStateOf(const fw::FirmwareInfo& info) {
  SlotState state;
  state.activeSlot = info.activeSlot;
  // NVMe slots are numbered 1 to 7; 0, STORAGE_FIRMWARE_INFO_INVALID_SLOT and
  // any other value mean that no slot waits for activation.
  if (info.pendingActivateSlot >= 1 && info.pendingActivateSlot <= nvme::kMaxFirmwareSlots) {
    state.pendingSlot = info.pendingActivateSlot;
  }
  for (const fw::FirmwareSlotInfo& slot : info.slots) {
    if (slot.slotNumber == 0 || slot.slotNumber > nvme::kMaxFirmwareSlots) {
      continue;
    }
    if (state.revisions.size() < slot.slotNumber) {
      state.revisions.resize(slot.slotNumber);
    }
    state.revisions[slot.slotNumber - 1] = slot.revision;
  }
  return state;
}

SlotRead slotReadFailed(int code, std::uint32_t systemError) {
  return {std::nullopt, {code, {}, systemError}, std::nullopt};
}

}  // namespace zev
