// The one reader of a device interface's detail (its device path and the
// device it belongs to), shared by every enumeration.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.hpp"

namespace zev {

struct InterfaceDetail {
  std::wstring devicePath;
  platform::DeviceInfoData device;  // the device the interface belongs to
};

// The memberIndex-th interface of interfaceClass in set
// (SetupDiEnumDeviceInterfaces); nullopt when there is none.
std::optional<platform::DeviceInterfaceData> enumInterface(platform::DeviceSet set,
                                                           const platform::Guid& interfaceClass,
                                                           std::uint32_t memberIndex);

// The interface's SP_DEVICE_INTERFACE_DETAIL_DATA_W
// (SetupDiGetDeviceInterfaceDetailW): asked once without a buffer, then with
// a zero-filled buffer of exactly the size reported while the call asks for
// more. nullopt when the sizing call succeeds (no detail), a call fails for
// another reason, the size reported does not hold cbSize or does not grow (a
// loop that could never end), or the buffer cannot be had.
std::optional<InterfaceDetail> readInterfaceDetail(
    platform::DeviceSet set, const platform::DeviceInterfaceData& interfaceData);

// The controller detection's form: asked once without a buffer, then once
// with a zero-filled buffer of exactly the size reported. nullopt when the
// reported size is 0 (or cannot hold cbSize), the sizing call fails with an
// error other than ERROR_INSUFFICIENT_BUFFER, or the second call fails; a
// sizing call that succeeds with a size goes on to the second call.
std::optional<InterfaceDetail> readInterfaceDetailSizedOnce(
    platform::DeviceSet set, const platform::DeviceInterfaceData& interfaceData);

}  // namespace zev
