// app/: the top of the package. The entry point, the command line and the
// run sequence live here and call down into discovery/, update/ and report/;
// nothing else includes app/.
//
// The run sequence: discovery, identification, the revision gate and the
// update of every selected drive; or, for a check, the same discovery,
// identification and gate followed by read-only slot reads. Both record
// every drive's outcome in context.outcomes as they go: the identified drives
// in identified-list order, then the disks that could not be examined.
#pragma once

#include "core/update_context.hpp"

namespace zev {

void runSequence(DiskInventory& inventory, UpdateContext& context);

// The check: prints every identified drive's target block and verdict line.
// Sends no download, activation or commit.
void runCheck(DiskInventory& inventory, UpdateContext& context);

}  // namespace zev
