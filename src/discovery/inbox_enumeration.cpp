// Finds the target maker's NVMe disks on the inbox NVMe driver: every disk
// device of GUID_DEVINTERFACE_DISK whose parent (its NVMe controller) carries
// the maker's PCI vendor identifier and one of whose hardware identifiers
// names NVMe, addressed as \\.\PHYSICALDRIVEn by its device number. Touches
// only the device set it opens (destroyed on every way out) and one disk
// handle at a time.
#include "discovery/inbox_enumeration.hpp"
#include "discovery/interface_detail.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.hpp"
#include "discovery/device_property.hpp"
#include "discovery/device_walk.hpp"
#include "discovery/growing_buffer.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/storage_query_records.hpp"
#include "report/console.hpp"
#include "report/open_or_report.hpp"

namespace zev {

namespace {

constexpr std::wstring_view kVendorMatch = L"VEN_1D9B";
constexpr std::wstring_view kNvmeMatch = L"NVMe";
// Disks the Intel controller parents are its own, recorded with it.
constexpr std::wstring_view kIntelVendorMatch = L"VEN_8086";

enum class DiskOutcome { NextDevice, NextString };

// One hardware identifier that names NVMe: open the i-th disk interface and
// append its candidate. A disk that cannot be opened or whose device number
// cannot be read is set aside as not examined, and the walk goes on.
DiskOutcome tryDiskInterface(platform::DeviceSet set, const platform::DeviceInfoData& device,
                             std::uint32_t index, DiskList& candidates, UnexaminedList& unexamined,
                             ObservedInboxDisk& seen) {
  std::wstring instanceId;
  if (!readInstanceId(set, device, instanceId)) {
    seen.instanceId.emplace();
    return DiskOutcome::NextString;
  }
  seen.instanceId = instanceId;
  const auto disk = enumInterface(set, platform::kGuidDevinterfaceDisk, index);
  const auto detail = disk ? readInterfaceDetail(set, *disk) : std::nullopt;
  if (!detail) {
    return DiskOutcome::NextString;
  }
  seen.interfacePath = detail->devicePath;
  const OpenedDevice opened = openOrReport(detail->devicePath, platform::kFileShareReadWrite, 0, 0);
  if (!opened.ok()) {
    unexamined.push_back({detail->devicePath, opened.failure.systemError, false,
                          opened.failure.diagnostic, candidates.size(),
                          opened.failure.failedRequest});
    return DiskOutcome::NextDevice;
  }

  std::array<std::uint8_t, storage::kDeviceNumberSize> number{};
  const RequestOutcome numbered =
      sendDeviceRequest(opened.handle.get(), platform::kIoctlStorageGetDeviceNumber, number, 0,
                        storage::kDeviceNumberSize);
  if (!numbered.delivered) {
    const StepOutcome failed = failedStep(
        0, "Get device number failed: 0x" + lowerHex(numbered.lastError),
        FailedRequest{RequestKind::DeviceNumber, FailureForm::Error, numbered.lastError});
    unexamined.push_back({detail->devicePath, failed.systemError, false, failed.diagnostic,
                          candidates.size(), failed.failedRequest});
    return DiskOutcome::NextDevice;
  }
  seen.deviceNumber = loadLe32(number, storage::kDeviceNumberOffset);
  const auto deviceNumber = static_cast<std::int32_t>(*seen.deviceNumber);
  DiskInfo candidate;
  candidate.devicePath = L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(deviceNumber);
  candidate.pathId = -1;
  candidate.driverKind = DriverKind::Inbox;
  candidates.push_back(candidate);
  return DiskOutcome::NextDevice;
}

}  // namespace

int enumerateInboxNvmeDisks(DiskList& candidates, UnexaminedList& unexamined,
                            MachineObservation* observation) {
  const bool listed = walkDevices(
      platform::kGuidDevinterfaceDisk, platform::kDigcfPresent | platform::kDigcfDeviceInterface,
      [&](platform::DeviceSet set, const platform::DeviceInfoData& device, std::uint32_t index) {
        ObservedInboxDisk ignored;
        std::wstring parentId;
        const bool haveParent = readParentInstanceId(set, device, parentId);
        if (!haveParent) {
          parentId.clear();
        }
        ObservedInboxDisk& seen =
            observation != nullptr && parentId.find(kIntelVendorMatch) == std::wstring::npos
                ? observation->inboxDisks.emplace_back()
                : ignored;
        seen.parentInstanceId.emplace();
        if (haveParent) {
          seen.parentInstanceId = parentId;
        }
        if (parentId.find(kVendorMatch) == std::wstring::npos) {
          return WalkStep::Next;
        }
        const auto hardwareIds = readWithGrowingBuffer(
            [&](std::uint8_t* buffer, std::uint32_t size, std::uint32_t* required) {
              std::uint32_t dataType = 0;
              return platform::getDeviceRegistryProperty(set, device, platform::kSpdrpHardwareId,
                                                         &dataType, buffer, size, required);
            });
        if (!hardwareIds || hardwareIds->size == 0) {
          seen.hardwareIds.emplace();
          return WalkStep::Next;
        }
        const std::size_t idBytes =
            std::min<std::size_t>(hardwareIds->size, hardwareIds->buffer.size());
        const std::vector<std::wstring> ids =
            wideMultiStrings(std::span<const std::uint8_t>(hardwareIds->buffer).first(idBytes));
        seen.hardwareIds = ids;
        for (const std::wstring& hardwareId : ids) {
          if (hardwareId.find(kNvmeMatch) == std::wstring::npos) {
            continue;
          }
          const DiskOutcome outcome =
              tryDiskInterface(set, device, index, candidates, unexamined, seen);
          if (outcome == DiskOutcome::NextDevice) {
            break;
          }
        }
        return WalkStep::Next;
      });
  return listed ? 1 : 0;
}

}  // namespace zev
