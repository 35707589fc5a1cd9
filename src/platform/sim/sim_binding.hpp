// Binds the sim backend of the platform boundary to one simulated machine.
// The launcher, the benchmarks, the tests and the fuzz targets hold a
// SimBinding while the package runs on a machine; without one every device
// call fails as on a machine with no devices.
#pragma once

#include <functional>
#include <string>

namespace zevsim {
class Machine;
}

namespace zev::platform::sim {

// Binds machine for the life of the object. The backend knows one machine:
// a newer binding takes the place of an older one, and the end of any
// binding leaves no machine bound.
class SimBinding {
 public:
  explicit SimBinding(zevsim::Machine& machine);
  ~SimBinding();
  SimBinding(const SimBinding&) = delete;
  SimBinding& operator=(const SimBinding&) = delete;
};

// The machine bound now, or nullptr.
zevsim::Machine* boundMachine();
// Tests only: the name of the temporary file through which a file at a path
// is written, so that a test can put something in its way. An empty source
// restores a fresh random name per file. The Windows package has no such
// setter: its backend always draws the name.
void setTemporaryNameSource(std::function<std::wstring(const std::wstring& path)> source);

}  // namespace zev::platform::sim
