// Identification of an inbox NVMe disk through the storage property query.
#pragma once

#include "core/disk_info.hpp"
#include "core/step_outcome.hpp"

namespace zev {

// Code 0 when the record was appended, 2 when the drive could not be opened,
// 5 when the query failed; each failure after its error line, which the
// outcome carries.
StepOutcome identifyInboxDisk(DiskInfo candidate, DiskList& identified);

}  // namespace zev
