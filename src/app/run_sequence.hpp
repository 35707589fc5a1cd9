// app/: the top of the package. The entry point, the command line and the
// run sequence live here and call down into discovery/, update/ and report/;
// nothing else includes app/.
//
// The run sequence: discovery, identification, the revision gate and the
// update of every selected drive; or, for a check, the same discovery,
// identification and gate followed by read-only slot reads.
#pragma once

#include <cstdint>

#include "core/update_context.hpp"

namespace zev {

void runSequence(DiskInventory& inventory, UpdateContext& context);
// Fills context.outcomes after runSequence: every identified drive's decision
// and result, then the disks not examined.
void collectUpdateOutcomes(const DiskInventory& inventory, UpdateContext& context);

// The check: prints every identified drive's target block and verdict line
// and fills context.outcomes. Sends no download, activation or commit.
void runCheck(DiskInventory& inventory, UpdateContext& context);
// The check's exit status: 1 when a disk could not be examined or the run
// failed, else 0 when a drive has an update available, else 2.
std::int32_t checkExitStatus(const UpdateContext& context);

}  // namespace zev
