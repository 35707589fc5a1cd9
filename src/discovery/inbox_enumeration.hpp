// Finds the target maker's NVMe disks on the inbox NVMe driver.
#pragma once

#include "core/disk_info.hpp"

namespace zev {

// Appends one Inbox candidate per matching disk; 1 when the enumeration ran to
// its end, 0 when the device set is unavailable or a matching disk fails to
// open.
int enumerateInboxNvmeDisks(DiskList& candidates);

}  // namespace zev
