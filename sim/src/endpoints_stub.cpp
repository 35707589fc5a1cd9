// STUB: replaced by the driver work (inbox_driver.cpp, irst_driver.cpp,
// vroc_driver.cpp, endpoint.cpp).
#include "endpoint.hpp"
namespace zevsim {
namespace {
class InvalidFunction : public Endpoint {
 public:
  IoReply request(std::uint32_t, std::span<const std::uint8_t>, std::uint32_t) override {
    return {false, 1, {}, 0};
  }
};
}  // namespace
const Fault* FaultCounter::count(FaultRequest kind) {
  ++counts_[static_cast<int>(kind)];
  return nullptr;
}
std::unique_ptr<Endpoint> makeInboxDiskEndpoint(NvmeDrive&, std::uint32_t) {
  return std::make_unique<InvalidFunction>();
}
std::unique_ptr<Endpoint> makeIrstControllerEndpoint(IntelControllerModel&) {
  return std::make_unique<InvalidFunction>();
}
std::unique_ptr<Endpoint> makeScsiPortEndpoint(IntelControllerModel*, std::uint32_t) {
  return std::make_unique<InvalidFunction>();
}
std::unique_ptr<Endpoint> makeInvalidFunctionEndpoint() {
  return std::make_unique<InvalidFunction>();
}
}  // namespace zevsim
