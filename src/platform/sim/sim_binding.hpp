// Binds the sim backend of the platform boundary to one simulated machine.
// The launcher and the tests set it before running the package and clear it
// afterwards; without a machine every device call fails as on a machine with
// no devices.
#pragma once

namespace zevsim {
class Machine;
}

namespace zev::platform::sim {

void bindMachine(zevsim::Machine* machine);
zevsim::Machine* boundMachine();

}  // namespace zev::platform::sim
