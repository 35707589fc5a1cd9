// The check's verdict on one identified drive: whether the image would
// update it, already waits in a slot for the next reset, already runs, cannot
// be sent to it, or is refused by the revision gate.
#pragma once

#include <optional>
#include <string>

#include "core/disk_info.hpp"
#include "update/slot_reads.hpp"

namespace zev {

// accepted: the revision gate's answer on the running revision; read: the
// slot read (no slots when it failed or was not made: the verdict then rests
// on the running revision alone). A slot read that is the update's own first
// request and refuses the update decides UpdateNotPossible.
Decision checkVerdict(const DiskInfo& disk, bool accepted, const SlotRead& read,
                      const std::wstring& imageRevision);

}  // namespace zev
