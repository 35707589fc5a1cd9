// The capture of "/capture=": what the run read of the machine, as a machine
// file the simulator loads (sim/README.md), so that the check can be
// rehearsed and an update tried on the same drives and devices.
#pragma once

#include <string>

#include "core/update_context.hpp"

namespace zev {

// The machine file of a finished check, as UTF-8 JSON text: the computer
// name, the inbox disks, the Intel controller with its volumes, pass-through
// drives and faults, the other controllers the detection read, and one drive
// per physical drive with its Identify fields and slot reads. A fact the run
// did not read is left to the format's default; a disk that could not be
// examined is a placeholder drive whose fault repeats the request that failed.
std::string composeMachineCapture(const UpdateContext& context);

}  // namespace zev
