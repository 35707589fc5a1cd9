// STUB: replaced by the inbox work.
#include "update/update_paths.hpp"
namespace zev {
int updateThroughInbox(const DiskInfo&, std::uint32_t&) {
  return kResultFailure;
}
}  // namespace zev
