// The check's verdict on one identified drive: whether the image would
// update it, already waits in a slot for the next reset, already runs, or is
// refused by the revision gate.
#pragma once

#include <optional>
#include <string>

#include "core/disk_info.hpp"
#include "update/slot_reads.hpp"

namespace zev {

// accepted: the revision gate's answer; slots: the slot read, nullopt when it
// failed or was not made (the verdict then rests on the revision alone).
Decision checkVerdict(const DiskInfo& disk, bool accepted, const std::optional<SlotState>& slots,
                      const std::wstring& imageRevision);

}  // namespace zev
