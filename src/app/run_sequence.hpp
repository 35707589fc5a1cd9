// app/: the top of the package. The entry point, the command line and the
// run sequence live here and call down into discovery/, update/ and report/;
// nothing else includes app/.
//
// The run sequence: discovery, identification, the revision gate and the
// update of every selected drive.
#pragma once

#include "core/update_context.hpp"

namespace zev {

void runSequence(DiskInventory& inventory, UpdateContext& context);

}  // namespace zev
