// The interface detail reader.
#include "discovery/interface_detail.hpp"

#include <span>
#include <vector>

#include "core/text.hpp"
#include "core/zero_filled_buffer.hpp"
#include "platform/platform_constants.hpp"
#include "records/little_endian.hpp"

namespace zev {

namespace {

// The reported size's zero-filled buffer with cbSize 8 at its start; nullopt
// when the size cannot hold cbSize or cannot be had.
std::optional<std::vector<std::uint8_t>> detailBuffer(std::uint32_t size) {
  auto buffer = size >= sizeof(std::uint32_t) ? zeroFilledBuffer(size) : std::nullopt;
  if (buffer) {
    storeLe32(*buffer, 0, platform::kInterfaceDetailCbSize);
  }
  return buffer;
}

// The call with a buffer; true when it succeeded and detail holds the path
// of SP_DEVICE_INTERFACE_DETAIL_DATA_W: wide characters from byte 4 up to
// the terminator, never past the buffer's end.
bool detailCall(platform::DeviceSet set, const platform::DeviceInterfaceData& interfaceData,
                std::vector<std::uint8_t>& buffer, InterfaceDetail& detail,
                std::uint32_t& required) {
  if (!platform::getDeviceInterfaceDetail(set, interfaceData, buffer.data(),
                                          static_cast<std::uint32_t>(buffer.size()), &required,
                                          &detail.device)) {
    return false;
  }
  detail.devicePath = wideTextUpToZero(
      std::span<const std::uint8_t>(buffer).subspan(platform::kInterfaceDetailPathOffset));
  return true;
}

}  // namespace

std::optional<platform::DeviceInterfaceData> enumInterface(platform::DeviceSet set,
                                                           const platform::Guid& interfaceClass,
                                                           std::uint32_t memberIndex) {
  platform::DeviceInterfaceData interfaceData;
  interfaceData.cbSize = platform::kDeviceInterfaceDataCbSize;
  if (!platform::enumDeviceInterfaces(set, nullptr, interfaceClass, memberIndex, interfaceData)) {
    return std::nullopt;
  }
  return interfaceData;
}

std::optional<InterfaceDetail> readInterfaceDetail(
    platform::DeviceSet set, const platform::DeviceInterfaceData& interfaceData) {
  InterfaceDetail detail;
  detail.device.cbSize = platform::kDeviceInfoDataCbSize;
  std::uint32_t required = 0;
  if (platform::getDeviceInterfaceDetail(set, interfaceData, nullptr, 0, &required,
                                         &detail.device)) {
    return std::nullopt;
  }
  std::uint32_t offered = 0;
  while (platform::getLastError() == platform::kErrorInsufficientBuffer) {
    if (offered != 0 && required <= offered) {
      return std::nullopt;
    }
    offered = required;
    auto buffer = detailBuffer(offered);
    if (!buffer) {
      return std::nullopt;
    }
    if (detailCall(set, interfaceData, *buffer, detail, required)) {
      return detail;
    }
  }
  return std::nullopt;
}

std::optional<InterfaceDetail> readInterfaceDetailSizedOnce(
    platform::DeviceSet set, const platform::DeviceInterfaceData& interfaceData) {
  InterfaceDetail detail;
  detail.device.cbSize = platform::kDeviceInfoDataCbSize;
  std::uint32_t required = 0;
  const bool sized =
      platform::getDeviceInterfaceDetail(set, interfaceData, nullptr, 0, &required, &detail.device);
  if (!sized && platform::getLastError() != platform::kErrorInsufficientBuffer) {
    return std::nullopt;
  }
  auto buffer = detailBuffer(required);
  if (!buffer || !detailCall(set, interfaceData, *buffer, detail, required)) {
    return std::nullopt;
  }
  return detail;
}

}  // namespace zev
