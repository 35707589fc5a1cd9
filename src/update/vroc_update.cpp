// STUB: replaced by the VROC work.
#include "update/update_paths.hpp"
namespace zev {
int updateThroughVroc(const DiskInfo&, std::uint32_t&, std::int32_t) {
  return kResultFailure;
}
int vrocDownload(platform::Handle, const DiskInfo&, std::uint32_t) {
  return 1;
}
int vrocActivate(platform::Handle, std::uint32_t) {
  return 1;
}
}  // namespace zev
