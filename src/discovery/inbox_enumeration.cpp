// Finds the target maker's NVMe disks on the inbox NVMe driver: every disk
// device of GUID_DEVINTERFACE_DISK whose parent (its NVMe controller) carries
// the maker's PCI vendor identifier and one of whose hardware identifiers
// names NVMe, addressed as \\.\PHYSICALDRIVEn by its device number. Touches
// only the device set it opens (destroyed on every way out) and one disk
// handle at a time.
#include "discovery/inbox_enumeration.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/device_property.hpp"
#include "discovery/growing_buffer.hpp"
#include "discovery/storage_query_records.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"

namespace zev {

namespace {

constexpr std::wstring_view kVendorMatch = L"VEN_1D9B";
constexpr std::wstring_view kNvmeMatch = L"NVMe";
constexpr std::size_t kDevicePathCapacity = 260;

// The NUL-terminated wide strings of a REG_MULTI_SZ value, in order, read
// within the reported size; the list ends at the first empty string.
std::vector<std::wstring> multiStrings(const GrownValue& value) {
  const std::size_t bytes = std::min<std::size_t>(value.size, value.buffer.size());
  const std::size_t units = bytes / sizeof(wchar_t);
  std::vector<std::wstring> strings;
  std::wstring current;
  for (std::size_t i = 0; i < units; ++i) {
    wchar_t unit = 0;
    std::memcpy(&unit, value.buffer.data() + i * sizeof(wchar_t), sizeof(wchar_t));
    if (unit != 0) {
      current.push_back(unit);
      continue;
    }
    if (current.empty()) {
      return strings;
    }
    strings.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) {
    strings.push_back(std::move(current));
  }
  return strings;
}

// The device path of SP_DEVICE_INTERFACE_DETAIL_DATA_W: wide characters from
// byte 4 up to the terminator, within the buffer.
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

// Reads the interface detail by growing to exactly the reported size; empty
// when the first call succeeds or no call with a buffer succeeds.
std::vector<std::uint8_t> readInterfaceDetail(platform::DeviceSet set,
                                              const platform::DeviceInterfaceData& interfaceData) {
  platform::DeviceInfoData deviceInfo;
  deviceInfo.cbSize = platform::kDeviceInfoDataCbSize;
  std::uint32_t required = 0;
  if (platform::getDeviceInterfaceDetail(set, interfaceData, nullptr, 0, &required, &deviceInfo)) {
    return {};
  }
  std::vector<std::uint8_t> detail;
  std::uint32_t offered = 0;
  while (platform::getLastError() == platform::kErrorInsufficientBuffer) {
    // A size no larger than the one just refused would loop for ever, and a
    // buffer must hold at least cbSize.
    if ((offered != 0 && required <= offered) || required < sizeof(std::uint32_t)) {
      return {};
    }
    offered = required;
    detail.assign(offered, std::uint8_t{0});
    storeLe32(detail, 0, platform::kInterfaceDetailCbSize);
    if (platform::getDeviceInterfaceDetail(set, interfaceData, detail.data(), offered, &required,
                                           &deviceInfo)) {
      return detail;
    }
  }
  return {};
}

enum class DiskOutcome { NextDevice, NextString, StopEnumeration };

// One hardware identifier that names NVMe: open the i-th disk interface and
// append its candidate.
DiskOutcome tryDiskInterface(platform::DeviceSet set, const platform::DeviceInfoData& device,
                             std::uint32_t index, DiskList& candidates) {
  std::wstring instanceId;
  if (!readInstanceId(set, device, instanceId)) {
    return DiskOutcome::NextString;
  }
  platform::DeviceInterfaceData interfaceData;
  interfaceData.cbSize = platform::kDeviceInterfaceDataCbSize;
  if (!platform::enumDeviceInterfaces(set, nullptr, platform::kGuidDevinterfaceDisk, index,
                                      interfaceData)) {
    return DiskOutcome::NextString;
  }
  const std::vector<std::uint8_t> detail = readInterfaceDetail(set, interfaceData);
  if (detail.empty()) {
    return DiskOutcome::NextString;
  }
  const OpenOutcome opened = openDevice(detailPath(detail), platform::kFileShareReadWrite, 0);
  if (!opened.ok()) {
    return DiskOutcome::StopEnumeration;
  }
  DeviceHandle disk(opened.handle);

  std::array<std::uint8_t, storage::kDeviceNumberSize> number{};
  if (!sendDeviceRequest(disk.get(), platform::kIoctlStorageGetDeviceNumber, number, 0,
                         storage::kDeviceNumberSize)
           .delivered) {
    return DiskOutcome::NextDevice;
  }
  wchar_t path[kDevicePathCapacity] = {};
  const auto deviceNumber =
      static_cast<std::int32_t>(loadLe32(number, storage::kDeviceNumberOffset));
  if (formatWide(path, kDevicePathCapacity, L"\\\\.\\PHYSICALDRIVE%d", deviceNumber) < 0) {
    return DiskOutcome::NextDevice;
  }
  DiskInfo candidate;
  candidate.devicePath = path;
  candidate.pathId = -1;
  candidate.driverKind = DriverKind::Inbox;
  candidates.push_back(candidate);
  return DiskOutcome::NextDevice;
}

}  // namespace

int enumerateInboxNvmeDisks(DiskList& candidates) {
  const DeviceSetGuard set(platform::getClassDevs(
      platform::kGuidDevinterfaceDisk, platform::kDigcfPresent | platform::kDigcfDeviceInterface));
  if (!set.valid()) {
    return 0;
  }
  for (std::uint32_t index = 0;; ++index) {
    platform::DeviceInfoData device;
    device.cbSize = platform::kDeviceInfoDataCbSize;
    if (!platform::enumDeviceInfo(set.get(), index, device)) {
      return 1;
    }
    std::wstring parentId;
    if (!readParentInstanceId(set.get(), device, parentId)) {
      parentId.clear();
    }
    if (parentId.find(kVendorMatch) == std::wstring::npos) {
      continue;
    }
    const auto hardwareIds = readWithGrowingBuffer(
        [&](std::uint8_t* buffer, std::uint32_t size, std::uint32_t* required) {
          std::uint32_t dataType = 0;
          return platform::getDeviceRegistryProperty(set.get(), device, platform::kSpdrpHardwareId,
                                                     &dataType, buffer, size, required);
        });
    if (!hardwareIds || hardwareIds->size == 0) {
      continue;
    }
    for (const std::wstring& hardwareId : multiStrings(*hardwareIds)) {
      if (hardwareId.find(kNvmeMatch) == std::wstring::npos) {
        continue;
      }
      const DiskOutcome outcome = tryDiskInterface(set.get(), device, index, candidates);
      if (outcome == DiskOutcome::StopEnumeration) {
        return 0;
      }
      if (outcome == DiskOutcome::NextDevice) {
        break;
      }
    }
  }
}

}  // namespace zev
