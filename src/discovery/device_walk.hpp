// discovery/: the enumerations (inbox disks, the Intel RAID controller and the
// disks behind it, the VROC scan) and identification. Includes report/,
// core/, records/ and platform/, never update/ or app/.
//
// The one walk over a device-information set: every enumeration of the
// package (inbox disks, storage ports, Intel-parented disks, the all-classes
// set of the bus-number lookup) opens its set and visits its devices here.
#pragma once

#include <cstdint>

#include "platform/device_request.hpp"
#include "platform/platform.hpp"
#include "platform/platform_constants.hpp"

namespace zev {

enum class WalkStep { Next, Stop };

// Opens the set of classGuid with flags (SetupDiGetClassDevsW), calls
// visit(set, device, memberIndex) -> WalkStep for each device in member order
// until it returns WalkStep::Stop or SetupDiEnumDeviceInfo reports no more,
// and destroys the set whichever way the walk ends. False when the set could
// not be opened.
template <class Visit>
bool walkDevices(const platform::Guid& classGuid, std::uint32_t flags, Visit&& visit) {
  const DeviceSetGuard set(platform::getClassDevs(classGuid, flags));
  if (!set.valid()) {
    return false;
  }
  for (std::uint32_t index = 0;; ++index) {
    platform::DeviceInfoData device;
    device.cbSize = platform::kDeviceInfoDataCbSize;
    if (!platform::enumDeviceInfo(set.get(), index, device) ||
        visit(set.get(), device, index) == WalkStep::Stop) {
      return true;
    }
  }
}

}  // namespace zev
