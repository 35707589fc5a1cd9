// The check's verdict.
#include "update/check_verdict.hpp"

namespace zev {

namespace {

// A slot's revision holds the image's revision: its first bytes are the
// revision's characters, and any further bytes (the Intel interface's 16) are
// zero.
bool holdsRevision(const std::vector<std::uint8_t>& slot, const std::wstring& revision) {
  if (slot.size() < revision.size()) {
    return false;
  }
  for (std::size_t i = 0; i < slot.size(); ++i) {
    const std::uint32_t expected =
        i < revision.size() ? static_cast<std::uint32_t>(revision[i]) : 0;
    if (slot[i] != expected) {
      return false;
    }
  }
  return true;
}

}  // namespace

Decision checkVerdict(const DiskInfo& disk, bool accepted, const SlotRead& read,
                      const std::wstring& imageRevision) {
  if (!accepted) {
    return Decision::NotAccepted;
  }
  if (read.updateNotPossible) {
    return Decision::UpdateNotPossible;
  }
  // The revision the drive runs after its next reset decides: the pending
  // slot's when a slot is pending, else the running one.
  const std::optional<SlotState>& slots = read.slots;
  if (slots && slots->pendingSlot) {
    const std::size_t index = std::size_t{*slots->pendingSlot} - 1;
    const bool pendingImage = index < slots->revisions.size() && slots->revisions[index] &&
                              holdsRevision(*slots->revisions[index], imageRevision);
    return pendingImage ? Decision::UpdatePendingReset : Decision::UpdateAvailable;
  }
  return disk.firmwareRevision == imageRevision ? Decision::AlreadyCurrent
                                                : Decision::UpdateAvailable;
}

}  // namespace zev
