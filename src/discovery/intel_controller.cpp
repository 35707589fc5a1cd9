// STUB: replaced by the IRST work.
#include "discovery/intel_controller.hpp"
namespace zev {
bool findIntelRaidController(RaidControllerInfo&) {
  return false;
}
int enumerateIntelControllerDisks(const RaidControllerInfo&, DiskList&) {
  return 1;
}
std::int32_t readDiskBusNumber(std::uint32_t) {
  return -1;
}
}  // namespace zev
