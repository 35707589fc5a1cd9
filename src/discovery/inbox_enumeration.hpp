// Finds the target maker's NVMe disks on the inbox NVMe driver.
#pragma once

#include "core/disk_info.hpp"

namespace zev {

// Appends one Inbox candidate per matching disk, and sets aside in unexamined
// (after its error line) a matching disk that cannot be opened or whose
// device number cannot be read; the enumeration goes on after it. 1 when the
// enumeration ran to its end, 0 when the device set is unavailable. With an
// observation, every disk it meets that no Intel device parents is recorded
// there with the properties read of it.
int enumerateInboxNvmeDisks(DiskList& candidates, UnexaminedList& unexamined,
                            MachineObservation* observation = nullptr);

}  // namespace zev
