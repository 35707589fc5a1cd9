// Binds the sim backend of the platform boundary to one simulated machine.
// The launcher and the tests set it before running the package and clear it
// afterwards; without a machine every device call fails as on a machine with
// no devices.
#pragma once

#include <functional>
#include <string>

namespace zevsim {
class Machine;
}

namespace zev::platform::sim {

void bindMachine(zevsim::Machine* machine);
zevsim::Machine* boundMachine();
// Tests only: the name of the temporary file through which a file at a path
// is written, so that a test can put something in its way. An empty source
// restores a fresh random name per file. The Windows package has no such
// setter: its backend always draws the name.
void setTemporaryNameSource(std::function<std::wstring(const std::wstring& path)> source);

}  // namespace zev::platform::sim
