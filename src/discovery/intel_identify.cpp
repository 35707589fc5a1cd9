// STUB: replaced by the IRST work.
#include "discovery/intel_identify.hpp"
namespace zev {
int queryCsmiRaidConfig(DiskInfo, DiskList&, std::uint32_t) {
  return 0;
}
int identifyIntelPassThroughDisk(DiskInfo, DiskList&) {
  return 8;
}
}  // namespace zev
