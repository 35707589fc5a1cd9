// The choke point for device opens and requests.
#include "platform/device_request.hpp"

#include "platform/platform_constants.hpp"

namespace zev {

RequestOutcome sendDeviceRequest(platform::Handle handle, std::uint32_t controlCode,
                                 std::span<std::uint8_t> buffer, std::uint32_t inSize,
                                 std::uint32_t outSize) {
  RequestOutcome outcome;
  std::uint32_t returned = 0;
  outcome.delivered = platform::deviceIoControl(handle, controlCode, buffer.data(), inSize,
                                                buffer.data(), outSize, &returned);
  outcome.lastError = platform::getLastError();
  return outcome;
}

OpenOutcome openDevice(const std::wstring& path, std::uint32_t shareMode, std::uint32_t flags) {
  OpenOutcome outcome;
  outcome.handle = DeviceHandle(platform::createFile(path.c_str(), platform::kGenericReadWrite,
                                                     shareMode, platform::kOpenExisting, flags));
  if (!outcome.ok()) {
    outcome.lastError = platform::getLastError();
  }
  return outcome;
}

}  // namespace zev
