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

Decision checkVerdict(const DiskInfo& disk, bool accepted, const std::optional<SlotState>& slots,
                      const std::wstring& imageRevision) {
  if (!accepted) {
    return Decision::NotAccepted;
  }
  if (disk.firmwareRevision == imageRevision) {
    return Decision::AlreadyCurrent;
  }
  if (slots && slots->pendingSlot) {
    const std::size_t index = std::size_t{*slots->pendingSlot} - 1;
    if (index < slots->revisions.size() && slots->revisions[index] &&
        holdsRevision(*slots->revisions[index], imageRevision)) {
      return Decision::UpdatePendingReset;
    }
  }
  return Decision::UpdateAvailable;
}

}  // namespace zev
