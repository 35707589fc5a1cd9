// The VROC scan: probes the SCSI port devices \\.\Scsi0: to \\.\Scsi15: for
// the VROC driver ("NvmeRAID" requests). The first port that reports a RAID
// volume or non-RAID drives ends the search; each drive it lists is
// identified through the driver's NVMe pass-through and appended. Driver
// requests are not examined for success: the "dwError" lines are the only
// report.
#include "discovery/vroc_scan.hpp"
#include "core/zero_filled_buffer.hpp"

#include <algorithm>
#include <array>

#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/identify_fields.hpp"
#include "records/vroc_records.hpp"
#include "report/console.hpp"

namespace zev {

namespace {

enum class PortOutcome {
  NotServed,         // no RAID volume and no non-RAID drive: try the next port
  Listed,            // the port's drives were listed: the scan ends here
  AllocationFailed,  // a buffer could not be had: the scan ends with -1
};

void printLastError(const RequestOutcome& outcome) {
  if (outcome.lastError != 0) {
    printNarrow("dwError: %lu\n", static_cast<unsigned long>(outcome.lastError));
  }
}

// Identifies one listed drive into record (steps of the pass-through Identify);
// passThrough is the kIdentifyRequestSize buffer, zeroed here as it still
// holds the reply for the drive before.
void identifyListedDrive(platform::Handle port, const vroc::VrocDiskEntry& entry,
                         std::span<std::uint8_t> passThrough, DiskInfo& record) {
  std::fill(passThrough.begin(), passThrough.end(), std::uint8_t{0});
  vroc::buildIdentifyRequest(passThrough, entry.diskId);
  const RequestOutcome outcome = sendDeviceRequest(port, platform::kIoctlScsiMiniport, passThrough);
  printLastError(outcome);
  // Read whatever the data area holds: a drive that returned nothing keeps the
  // 0x55 fill, which no accepted revision matches.
  const auto data = vroc::identifyData(passThrough);
  record.firmwareRevision =
      identify::textWholeField(data.subspan(identify::kFrOffset, identify::kFrSize));
  record.serialNumber =
      identify::textWholeField(data.subspan(identify::kSnOffset, identify::kSnSize));
  record.pathId = static_cast<std::int64_t>(entry.pathId);
  record.vrocDiskId = entry.diskId;
  record.modelNumber = entry.modelNumber;
}

PortOutcome listRaidMembers(platform::Handle port, DiskInfo& record, DiskList& identified) {
  std::array<std::uint8_t, vroc::kVolumeInfoRequestSize> volumeInfo{};
  vroc::buildVolumeInfoRequest(volumeInfo);
  printLastError(sendDeviceRequest(port, platform::kIoctlScsiMiniport, volumeInfo));
  const std::uint32_t memberCount = vroc::readVolumeMemberCount(volumeInfo);
  printNarrow("Number of NVMe RAID volume member disks: %lu\n",
              static_cast<unsigned long>(memberCount));

  // A count whose list would not fit the request's 32-bit Length is a list
  // that cannot be allocated.
  const auto listSize = vroc::memberListRequestSize(memberCount);
  auto list = listSize ? zeroFilledBuffer(*listSize) : std::nullopt;
  if (!list) {
    return PortOutcome::AllocationFailed;
  }
  vroc::buildMemberListRequest(*list, memberCount);
  printLastError(sendDeviceRequest(port, platform::kIoctlScsiMiniport, *list));

  auto passThrough = zeroFilledBuffer(vroc::kIdentifyRequestSize);
  if (!passThrough) {
    return PortOutcome::AllocationFailed;
  }
  for (std::uint32_t j = 0; j < memberCount; ++j) {
    const auto entry = vroc::readDiskEntry(*list, vroc::kMemberListEntriesOffset, j);
    if (!entry) {
      break;  // the list is sized for memberCount entries; never reached
    }
    printNarrow("\nSerial: %s\nvrocDiskId:%lx\n", entry->serialText.c_str(),
                static_cast<unsigned long>(entry->diskId));
    record.driverKind = DriverKind::VrocRaid;
    wideOut << L"RaidVROC" << endLine;
    identifyListedDrive(port, *entry, *passThrough, record);
    identified.push_back(record);
  }
  // A volume with no members still ends the scan on this port.
  return PortOutcome::Listed;
}

PortOutcome listNonRaidDrives(platform::Handle port, DiskInfo& record, DiskList& identified) {
  std::array<std::uint8_t, vroc::kCountRequestSize> count{};
  vroc::buildCountRequest(count, vroc::kNonRaidCountCode);
  sendDeviceRequest(port, platform::kIoctlScsiMiniport, count);
  const std::int32_t driveCount = vroc::readNonRaidCount(count);
  if (driveCount <= 0) {
    return PortOutcome::NotServed;
  }
  const auto drives = static_cast<std::uint32_t>(driveCount);

  const auto listSize = vroc::nonRaidListRequestSize(drives);
  auto list = listSize ? zeroFilledBuffer(*listSize) : std::nullopt;
  if (!list) {
    return PortOutcome::AllocationFailed;
  }
  vroc::buildNonRaidListRequest(*list, drives);
  sendDeviceRequest(port, platform::kIoctlScsiMiniport, *list);

  auto passThrough = zeroFilledBuffer(vroc::kIdentifyRequestSize);
  if (!passThrough) {
    return PortOutcome::AllocationFailed;
  }
  for (std::uint32_t j = 0; j < drives; ++j) {
    const auto entry = vroc::readDiskEntry(*list, vroc::kNonRaidListEntriesOffset, j);
    if (!entry) {
      break;  // the list is sized for driveCount entries; never reached
    }
    record.driverKind = DriverKind::VrocNonRaid;
    wideOut << L"NonRaidVROC" << endLine;
    identifyListedDrive(port, *entry, *passThrough, record);
    identified.push_back(record);
  }
  return PortOutcome::Listed;
}

PortOutcome scanPort(platform::Handle port, DiskInfo& record, DiskList& identified) {
  // Only the count is looked at: it stays 0 when the port does not answer.
  std::array<std::uint8_t, vroc::kCountRequestSize> volumeCount{};
  vroc::buildCountRequest(volumeCount, vroc::kRaidVolumeCountCode);
  sendDeviceRequest(port, platform::kIoctlScsiMiniport, volumeCount);
  if (vroc::readRaidVolumeCount(volumeCount) != 0) {
    return listRaidMembers(port, record, identified);
  }
  return listNonRaidDrives(port, record, identified);
}

}  // namespace

int scanVrocDisks(DiskInfo candidate, DiskList& identified, std::int32_t& vrocScsiPort) {
  for (std::int32_t port = 0; port < vroc::kScsiPortCount; ++port) {
    const OpenOutcome opened = openDevice(vroc::scsiPortPath(port), platform::kFileShareReadWrite,
                                          platform::kFileAttributeNormal);
    if (!opened.ok()) {
      continue;
    }
    switch (scanPort(opened.handle.get(), candidate, identified)) {
      case PortOutcome::NotServed:
        break;
      case PortOutcome::Listed:
        vrocScsiPort = port;
        return 0;
      case PortOutcome::AllocationFailed:
        return -1;
    }
  }
  return 0;
}

}  // namespace zev
