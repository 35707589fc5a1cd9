// STUB: replaced by the VROC work.
#include "discovery/vroc_scan.hpp"
namespace zev {
int scanVrocDisks(DiskInfo, DiskList&, std::int32_t&) {
  return 0;
}
}  // namespace zev
