// The interface detail reader.
#include "discovery/interface_detail.hpp"

#include <cstring>
#include <vector>

#include "core/zero_filled_buffer.hpp"
#include "platform/platform_constants.hpp"
#include "records/little_endian.hpp"

namespace zev {

namespace {

// The device path of SP_DEVICE_INTERFACE_DETAIL_DATA_W: wide characters from
// byte 4 up to the terminator, never past the buffer's end.
std::wstring detailPath(const std::vector<std::uint8_t>& detail) {
  std::wstring path;
  for (std::size_t at = platform::kInterfaceDetailPathOffset; at + sizeof(wchar_t) <= detail.size();
       at += sizeof(wchar_t)) {
    wchar_t unit = 0;
    std::memcpy(&unit, detail.data() + at, sizeof(wchar_t));
    if (unit == 0) {
      break;
    }
    path.push_back(unit);
  }
  return path;
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
    if ((offered != 0 && required <= offered) || required < sizeof(std::uint32_t)) {
      return std::nullopt;
    }
    offered = required;
    auto buffer = zeroFilledBuffer(offered);
    if (!buffer) {
      return std::nullopt;
    }
    storeLe32(*buffer, 0, platform::kInterfaceDetailCbSize);
    if (platform::getDeviceInterfaceDetail(set, interfaceData, buffer->data(), offered, &required,
                                           &detail.device)) {
      detail.devicePath = detailPath(*buffer);
      return detail;
    }
  }
  return std::nullopt;
}

}  // namespace zev
