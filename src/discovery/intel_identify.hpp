// Identification of the drives behind the IRST driver: the CSMI RAID
// configuration query and the Intel NVMe pass-through Identify.
#pragma once

#include <cstdint>

#include "core/disk_info.hpp"
#include "core/step_outcome.hpp"

namespace zev {

// Queries RAID set raidSetIndex and identifies every member; code 0 on success
// (also when the set has no members), 2 when the controller cannot be opened,
// 5 on a failed request or a non-zero CSMI ReturnCode, each after its error
// line, which the outcome carries.
StepOutcome queryCsmiRaidConfig(DiskInfo candidate, DiskList& identified,
                                std::uint32_t raidSetIndex);
// Code 0 when the record was appended, 5 when the request was not delivered
// or its ReturnCode is not 0, 8 when the buffer or the device could not be
// had; prints nothing.
StepOutcome identifyIntelPassThroughDisk(DiskInfo disk, DiskList& identified);

}  // namespace zev
