// STUB: replaced by the IRST work.
#include "update/update_paths.hpp"
namespace zev {
int updateThroughIrst(const DiskInfo&, std::uint32_t&) {
  return kResultFailure;
}
int irstDownload(platform::Handle, const DiskInfo&, std::uint32_t) {
  return 1;
}
int irstActivate(platform::Handle, std::uint32_t) {
  return 1;
}
}  // namespace zev
