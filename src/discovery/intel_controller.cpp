// Intel RAID controller detection and the disks behind it. The controller is
// the first storage port whose interface path names Intel's PCI vendor and
// whose driver description names an Intel RST or RAID controller; every disk
// whose parent is an Intel device then becomes a candidate addressed through
// that controller's path: RAID volume disks as IrstRaid, the others as
// IrstNonRaid with the bus number of their location text as path id.
#include "discovery/intel_controller.hpp"

#include <limits>
#include <optional>
#include <string_view>

#include "core/counted_open.hpp"
#include "core/text.hpp"
#include "discovery/device_property.hpp"
#include "discovery/device_walk.hpp"
#include "discovery/interface_detail.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "report/console.hpp"
#include "report/open_or_report.hpp"

namespace zev {

namespace {

// DIGCF_PRESENT | DIGCF_DEVICEINTERFACE: the controller and disk sets.
constexpr std::uint32_t kInterfaceSetFlags =
    platform::kDigcfPresent | platform::kDigcfDeviceInterface;
// DIGCF_PRESENT | DIGCF_ALLCLASSES: the set searched for a disk's location.
constexpr std::uint32_t kAllDevicesSetFlags = platform::kDigcfPresent | platform::kDigcfAllClasses;

bool contains(std::wstring_view text, std::wstring_view part) {
  return text.find(part) != std::wstring_view::npos;
}

std::wstring upperCasedAscii(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return text;
}

// The text the controller test looks at: the driver description, read whole,
// or the instance identifier when no description could be read.
// Both properties are noted in seen as read.
bool readControllerText(platform::DeviceSet set, const platform::DeviceInfoData& device,
                        std::wstring& text, ObservedController& seen) {
  std::wstring instanceId;
  const bool haveInstanceId =
      readDeviceStringProperty(set, device, platform::kDevpkeyDeviceInstanceId, instanceId);
  seen.instanceId.emplace();
  if (haveInstanceId) {
    seen.instanceId = instanceId;
  }
  seen.driverDesc.emplace();
  if (readDeviceWideStringProperty(set, device, platform::kDevpkeyDeviceDriverDesc, text)) {
    seen.driverDesc = text;
    return true;
  }
  text = instanceId;
  return haveInstanceId;
}

// The location text of the disk devInst names, from the all-classes set.
std::optional<std::wstring> readDiskLocation(std::uint32_t devInst) {
  std::optional<std::wstring> found;
  walkDevices(
      platform::kGuidDevinterfaceDisk, kAllDevicesSetFlags,
      [&](platform::DeviceSet set, const platform::DeviceInfoData& device, std::uint32_t) {
        if (device.devInst != devInst) {
          return WalkStep::Next;
        }
        std::wstring location;
        if (readDeviceStringProperty(set, device, platform::kDevpkeyDeviceLocationInfo, location)) {
          found = location;
        }
        return WalkStep::Stop;
      });
  return found;
}

bool isIntelRaidControllerText(std::wstring_view text) {
  return contains(text, L"Intel") && contains(text, L"Controller") &&
         (contains(text, L"RST") || contains(text, L"RAID"));
}

}  // namespace

std::int32_t busNumberFromLocation(std::wstring_view location) {
  if (!contains(location, L"Bus Number ")) {
    return -1;
  }
  const std::wstring_view field = location.substr(0, location.find(L','));
  const std::size_t firstSpace = field.find(L' ');
  if (firstSpace == std::wstring_view::npos) {
    return -1;
  }
  const std::size_t nextSpace = field.find(L' ', firstSpace + 1);
  if (nextSpace == std::wstring_view::npos) {
    return -1;
  }
  // A decimal integer as the C runtime reads one: blanks skipped, an optional
  // sign, digits; 0 when no digit follows. Out-of-range values saturate as a
  // 32-bit long does.
  std::size_t at = nextSpace;
  while (at < field.size() && (field[at] == L' ' || (field[at] >= L'\t' && field[at] <= L'\r'))) {
    ++at;
  }
  bool negative = false;
  if (at < field.size() && (field[at] == L'+' || field[at] == L'-')) {
    negative = field[at] == L'-';
    ++at;
  }
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; at < field.size() && field[at] >= L'0' && field[at] <= L'9'; ++at) {
    value = value * 10 + (field[at] - L'0');
    if (value > kLimit) {
      value = kLimit;
    }
  }
  if (negative) {
    return static_cast<std::int32_t>(-value);
  }
  return static_cast<std::int32_t>(value >= kLimit ? kLimit - 1 : value);
}

bool findIntelRaidController(RaidControllerInfo& controller, UnexaminedList& unexamined,
                             MachineObservation* observation) {
  bool found = false;
  walkDevices(
      platform::kGuidDevinterfaceStoragePort, kInterfaceSetFlags,
      [&](platform::DeviceSet set, const platform::DeviceInfoData&, std::uint32_t index) {
        const auto port = enumInterface(set, platform::kGuidDevinterfaceStoragePort, index);
        if (!port) {
          return WalkStep::Next;
        }
        const auto detail = readInterfaceDetailSizedOnce(set, *port);
        if (!detail) {
          return WalkStep::Stop;  // one unreadable interface ends the detection
        }
        if (!contains(upperCasedAscii(detail->devicePath), L"VEN_8086")) {
          return WalkStep::Next;
        }
        std::wstring text;
        ObservedController seen{detail->devicePath, {}, {}};
        if (!readControllerText(set, detail->device, text, seen) ||
            !isIntelRaidControllerText(text)) {
          if (observation != nullptr) {
            observation->otherControllers.push_back(std::move(seen));
          }
          return WalkStep::Next;
        }
        if (observation != nullptr) {
          observation->intelController = seen;
        }
        // The first matching controller decides; it must open. The handle only
        // proves that it opens and is closed again at once. A controller that
        // matches and cannot be used hides every disk behind it: it is set
        // aside as not examined.
        const OpenedDevice opened = reportOpen(
            openController(detail->devicePath, platform::kFileShareReadWrite,
                           platform::kFileFlagOverlapped | platform::kFileAttributeNormal,
                           observation != nullptr ? &observation->opens : nullptr),
            0);
        if (!opened.ok()) {
          unexamined.push_back({detail->devicePath, opened.failure.systemError, false,
                                opened.failure.diagnostic, 0, opened.failure.failedRequest});
          if (observation != nullptr) {
            observation->controllerFailures.push_back(*opened.failure.failedRequest);
          }
          return WalkStep::Stop;
        }
        controller.found = true;
        controller.controllerPath = detail->devicePath;
        std::wstring instanceId;
        if (!readDeviceStringProperty(set, detail->device, platform::kDevpkeyDeviceInstanceId,
                                      instanceId)) {
          const std::uint32_t error = platform::getLastError();
          const StepOutcome failed = failedStep(
              0, "Get controller instance identifier failed: 0x" + lowerHex(error), error);
          unexamined.push_back(
              {detail->devicePath, failed.systemError, false, failed.diagnostic, 0, std::nullopt});
          if (observation != nullptr) {
            observation->intelController->instanceId.emplace();
          }
          return WalkStep::Stop;
        }
        controller.instanceId = instanceId;
        found = true;
        return WalkStep::Stop;
      });
  return found;
}

int enumerateIntelControllerDisks(const RaidControllerInfo& controller, DiskList& candidates,
                                  UnexaminedList& unexamined, MachineObservation* observation) {
  const bool listed = walkDevices(
      platform::kGuidDevinterfaceDisk, kInterfaceSetFlags,
      [&](platform::DeviceSet set, const platform::DeviceInfoData& device, std::uint32_t index) {
        std::wstring parentId;
        if (!readParentInstanceId(set, device, parentId)) {
          parentId.clear();
        }
        if (!contains(parentId, L"VEN_8086")) {
          return WalkStep::Next;
        }
        ObservedIntelDisk ignored;
        ObservedIntelDisk& seen =
            observation != nullptr ? observation->intelDisks.emplace_back() : ignored;
        seen.listIndex = index;
        std::wstring instanceId;
        seen.instanceId.emplace();
        if (!readInstanceId(set, device, instanceId)) {
          return WalkStep::Next;
        }
        seen.instanceId = instanceId;
        if (contains(instanceId, L"VEN_INTEL") && contains(instanceId, L"PROD_RAID")) {
          seen.raidVolume = true;
          // A RAID volume disk: its members are found later through CSMI on
          // the controller; nothing is sent to the volume disk itself.
          DiskInfo volume;
          volume.devicePath = controller.controllerPath;
          volume.pathId = -1;
          volume.driverKind = DriverKind::IrstRaid;
          candidates.push_back(volume);
          return WalkStep::Next;
        }
        const auto disk = enumInterface(set, platform::kGuidDevinterfaceDisk, index);
        const auto detail = disk ? readInterfaceDetail(set, *disk) : std::nullopt;
        if (!detail) {
          return WalkStep::Next;
        }
        seen.interfacePath = detail->devicePath;
        // The handle only proves that the disk opens.
        const OpenedDevice opened =
            openOrReport(detail->devicePath, platform::kFileShareReadWrite, 0, 0);
        if (!opened.ok()) {
          // Set aside as not examined; the disks after it are still looked at.
          unexamined.push_back({detail->devicePath, opened.failure.systemError, false,
                                opened.failure.diagnostic, candidates.size(),
                                opened.failure.failedRequest});
          seen.openFailure = opened.failure.failedRequest;
          return WalkStep::Next;
        }
        DiskInfo passThrough;
        passThrough.devicePath = controller.controllerPath;
        const std::optional<std::wstring> location = readDiskLocation(detail->device.devInst);
        seen.locationInfo.emplace();
        if (location) {
          seen.locationInfo = *location;
        }
        passThrough.pathId = location ? busNumberFromLocation(*location) : -1;
        seen.busNumber = passThrough.pathId;
        passThrough.driverKind = DriverKind::IrstNonRaid;
        candidates.push_back(passThrough);
        return WalkStep::Next;
      });
  return listed ? 1 : 0;
}

std::int32_t readDiskBusNumber(std::uint32_t devInst) {
  const std::optional<std::wstring> location = readDiskLocation(devInst);
  return location ? busNumberFromLocation(*location) : -1;
}

}  // namespace zev
