// The controller-side request counter and the endpoint of devices whose
// driver answers nothing the package sends.
#include "endpoint.hpp"

#include "driver_request.hpp"
#include "nvme_drive.hpp"
#include "windows_values.hpp"

namespace zevsim {

namespace {

class InvalidFunctionEndpoint : public Endpoint {
 public:
  IoReply request(std::uint32_t, std::span<const std::uint8_t>, std::uint32_t) override {
    return notDelivered(win::kErrorInvalidFunction);
  }
};

}  // namespace

const Fault* FaultCounter::count(FaultRequest kind) {
  const std::uint32_t count = ++counts_[static_cast<int>(kind)];
  return findFault(faults_, kind, count);
}

FaultCounter* IntelControllerModel::memberAttachment(std::size_t volume, std::size_t member) {
  if (volume >= memberAttachments.size() || member >= memberAttachments[volume].size()) {
    return nullptr;
  }
  return &memberAttachments[volume][member];
}

FaultCounter* IntelControllerModel::passThroughAttachment(std::size_t index) {
  return index < passThroughAttachments.size() ? &passThroughAttachments[index] : nullptr;
}

std::unique_ptr<Endpoint> makeInvalidFunctionEndpoint() {
  return std::make_unique<InvalidFunctionEndpoint>();
}

}  // namespace zevsim
