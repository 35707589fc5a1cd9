// Binds the sim backend of the platform boundary to one simulated machine.
// The launcher, the benchmarks, the tests and the fuzz targets hold a
// SimBinding while the package runs on a machine; without one every device
// call fails as on a machine with no devices.
#pragma once

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

}  // namespace zev::platform::sim
