// The read-only view of a simulated machine (zevsim/machine_view.hpp) over
// its private state.
#include "zevsim/machine_view.hpp"

#include "machine_state.hpp"

namespace zevsim {

MachineView::MachineView(const Machine& machine) : state_(machine.state()) {}

const MachineConfig& MachineView::config() const {
  return state_.config;
}

const std::vector<DeviceNode>& MachineView::devices() const {
  return state_.devices;
}

std::vector<std::wstring> MachineView::pathNames() const {
  std::vector<std::wstring> names;
  names.reserve(state_.paths.size());
  for (const PathTarget& target : state_.paths) {
    names.push_back(target.path);
  }
  return names;
}

std::uint32_t MachineView::driveRequests(std::size_t drive, FaultRequest kind) const {
  return state_.drives.at(drive)->requestCount(kind);
}

}  // namespace zevsim
