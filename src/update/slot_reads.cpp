// The slots a firmware-information reply describes.
#include "update/slot_reads.hpp"

#include "records/nvme_command.hpp"

namespace zev {

SlotState slotStateOf(const fw::FirmwareInfo& info) {
  SlotState state;
  state.activeSlot = info.activeSlot;
  state.slotCount = info.slotCount;
  state.upgradeSupport = info.upgradeSupport;
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
    if (slot.slotNumber == 1) {
      state.slot1ReadOnly = slot.readOnly;
    }
  }
  return state;
}

SlotRead slotReadFailed(int code, std::optional<FailedRequest> request) {
  const std::uint32_t systemError =
      request && request->form == FailureForm::Error ? request->value : 0;
  return {std::nullopt, {code, {}, systemError, request}, std::nullopt};
}

}  // namespace zev
