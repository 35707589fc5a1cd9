// Identification of the drives behind the IRST driver: the CSMI RAID
// configuration query and the Intel NVMe pass-through Identify.
#pragma once

#include <cstdint>

#include "core/counted_open.hpp"
#include "core/disk_info.hpp"
#include "core/step_outcome.hpp"

namespace zev {

// Queries RAID set raidSetIndex and identifies every member; code 0 on success
// (also when the set has no members), 2 when the controller cannot be opened,
// 5 on a failed request or a non-zero CSMI ReturnCode, each after its error
// line, which the outcome carries.
// With an observation, the set's member ports and the CSMI request that
// failed are recorded there.
StepOutcome queryCsmiRaidConfig(DiskInfo candidate, DiskList& identified,
                                std::uint32_t raidSetIndex,
                                MachineObservation* observation = nullptr);
// Code 0 when the record was appended, 5 when the request was not delivered
// or its ReturnCode is not 0, 8 when the buffer or the device could not be
// had; prints nothing. Its open of the controller's path is counted in opens
// when given.
StepOutcome identifyIntelPassThroughDisk(DiskInfo disk, DiskList& identified,
                                         DeviceOpens* opens = nullptr);
// Records in the observation (when there is one) what the Intel Identify of
// the drive at pathId met: the request that failed and how.
void observeIntelIdentify(MachineObservation* observation, std::int64_t pathId,
                          const StepOutcome& identified);

}  // namespace zev
