// The VROC scan: probes the SCSI ports for the VROC driver and identifies the
// drives it lists.
#pragma once

#include <cstdint>

#include "core/disk_info.hpp"
#include "core/step_outcome.hpp"

namespace zev {

// Code 0, or -1 when a buffer could not be allocated; sets vrocScsiPort to
// the port that answered. Its "dwError" lines are no diagnostics: the
// outcome carries none.
StepOutcome scanVrocDisks(DiskInfo candidate, DiskList& identified, std::int32_t& vrocScsiPort);

}  // namespace zev
