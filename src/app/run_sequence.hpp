// The run sequence: discovery, identification, the revision gate and the
// update of every selected drive.
#pragma once

#include "core/update_context.hpp"

namespace zev {

void runSequence(DiskInventory& inventory, UpdateContext& context);

}  // namespace zev
