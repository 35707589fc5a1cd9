// The VROC scan: probes the SCSI port devices \\.\Scsi0: to \\.\Scsi15: for
// the VROC driver ("NvmeRAID" requests). The first port that reports a RAID
// volume or non-RAID drives ends the search: a RAID port's members are listed
// first, then the same port's non-RAID drives. Each drive it lists is
// identified through the driver's NVMe pass-through and appended; one whose
// Identify fails is set aside as not examined, since the driver serves only
// NVMe drives.
#include "discovery/vroc_scan.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/counted_open.hpp"
#include "core/text.hpp"
#include "core/zero_filled_buffer.hpp"
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

// One port's scan: its path, the records and the entries set aside.
struct PortScan {
  std::wstring path;
  DiskInfo& record;
  DiskList& identified;
  VrocScan& result;
  // The list requests sent to the port so far (the counts, the volume
  // information and the lists), as the driver counts them.
  std::uint32_t listRequests = 0;

  void setAside(std::wstring devicePath, const StepOutcome& failed = {}) {
    result.unexamined.push_back({std::move(devicePath), failed.systemError, false,
                                 failed.diagnostic, 0, failed.failedRequest});
  }
  // The port's drives as one entry not examined, after list request nth
  // failed.
  void setAsideList(const RequestOutcome& outcome, std::span<const std::uint8_t> list,
                    std::uint32_t nth) {
    const FailedRequest failed =
        outcome.delivered
            ? FailedRequest{RequestKind::VrocList, FailureForm::ReturnCode,
                            srb::readReturnCode(list)}
            : FailedRequest{RequestKind::VrocList, FailureForm::Error, outcome.lastError};
    result.listFailure = ObservedListFailure{failed, nth};
    setAside(path);
  }
};

void printLastError(const RequestOutcome& outcome) {
  if (outcome.lastError != 0) {
    printNarrow("dwError: %lu\n", static_cast<unsigned long>(outcome.lastError));
  }
}

// A list request the driver did not serve: not delivered, or refused.
bool listRefused(const RequestOutcome& outcome, std::span<const std::uint8_t> list) {
  return !outcome.delivered || srb::readReturnCode(list) != 0;
}

// The pass-through Identify of one listed drive; passThrough is the
// kIdentifyRequestSize buffer, zeroed here as it still holds the reply for
// the drive before. Appends the record, or sets the drive aside after its
// error line when the request was not delivered, refused or completed with
// an NVMe status.
void identifyListedDrive(platform::Handle port, const vroc::VrocDiskEntry& entry,
                         std::span<std::uint8_t> passThrough, PortScan& scan) {
  std::fill(passThrough.begin(), passThrough.end(), std::uint8_t{0});
  vroc::buildIdentifyRequest(passThrough, entry.diskId);
  const RequestOutcome outcome = sendDeviceRequest(port, platform::kIoctlScsiMiniport, passThrough);
  printLastError(outcome);
  const std::uint32_t returnCode = srb::readReturnCode(passThrough);
  const std::uint32_t completion = vroc::readCompletionDword3(passThrough);
  std::optional<StepOutcome> failed;
  if (!outcome.delivered) {
    failed =
        failedStep(1, "Identify failed: 0x" + lowerHex(outcome.lastError),
                   FailedRequest{RequestKind::Identify, FailureForm::Error, outcome.lastError});
  } else if (returnCode != 0) {
    failed = failedStep(1, "Identify failed. ReturnCode: 0x" + lowerHex(returnCode),
                        FailedRequest{RequestKind::Identify, FailureForm::ReturnCode, returnCode});
  } else if (vroc::completionFailed(completion)) {
    failed = failedStep(
        1,
        "Identify failed. NVMe status: 0x" + lowerHex(completion >> vroc::kCompletionStatusShift),
        FailedRequest{RequestKind::Identify, FailureForm::Completion, completion});
  }
  scan.result.entries.push_back({scan.record.driverKind == DriverKind::VrocRaid, entry.diskId,
                                 static_cast<std::int64_t>(entry.pathId), entry.modelBytes,
                                 entry.serialBytes, failed ? failed->failedRequest : std::nullopt});
  if (failed) {
    scan.setAside(scan.path + L" vrocDiskId:" + widenBytes(lowerHex(entry.diskId)), *failed);
    return;
  }
  const auto data = vroc::identifyData(passThrough);
  DiskInfo& record = scan.record;
  record.firmwareRevision =
      identify::textWholeField(data.subspan(identify::kFrOffset, identify::kFrSize));
  record.serialNumber =
      identify::textWholeField(data.subspan(identify::kSnOffset, identify::kSnSize));
  record.pathId = static_cast<std::int64_t>(entry.pathId);
  record.vrocDiskId = entry.diskId;
  record.modelNumber = entry.modelNumber;
  record.identifyFields = identify::rawFieldsOf(data);
  scan.identified.push_back(record);
}

// A drive list the port was asked for, with the pass-through buffer its
// drives are identified in.
struct DriveList {
  std::vector<std::uint8_t> list;
  RequestOutcome listed;
  std::vector<std::uint8_t> passThrough;
};

// Sends the list request that build(list) writes into a zero-filled buffer of
// size bytes; nullopt when a buffer cannot be had (a count whose list would
// not fit the request's 32-bit Length has no size).
template <class Build>
std::optional<DriveList> requestList(platform::Handle port, std::optional<std::size_t> size,
                                     Build&& build) {
  auto list = size ? zeroFilledBuffer(*size) : std::nullopt;
  if (!list) {
    return std::nullopt;
  }
  build(*list);
  const RequestOutcome listed = sendDeviceRequest(port, platform::kIoctlScsiMiniport, *list);
  auto passThrough = zeroFilledBuffer(vroc::kIdentifyRequestSize);
  if (!passThrough) {
    return std::nullopt;
  }
  return DriveList{std::move(*list), listed, std::move(*passThrough)};
}

// Identifies the count entries of a list from entriesOffset as drives of
// kind; before(entry) prints what comes before each drive's line.
template <class Before>
void identifyEntries(platform::Handle port, DriveList& drives, std::size_t entriesOffset,
                     std::uint32_t count, DriverKind kind, PortScan& scan, Before&& before) {
  for (std::uint32_t j = 0; j < count; ++j) {
    const auto entry = vroc::readDiskEntry(drives.list, entriesOffset, j);
    if (!entry) {
      break;  // the list is sized for count entries; never reached
    }
    before(*entry);
    scan.record.driverKind = kind;
    wideOut << (kind == DriverKind::VrocRaid ? L"RaidVROC" : L"NonRaidVROC") << endLine;
    identifyListedDrive(port, *entry, drives.passThrough, scan);
  }
}

PortOutcome listRaidMembers(platform::Handle port, PortScan& scan) {
  std::array<std::uint8_t, vroc::kVolumeInfoRequestSize> volumeInfo{};
  vroc::buildVolumeInfoRequest(volumeInfo);
  const RequestOutcome informed = sendDeviceRequest(port, platform::kIoctlScsiMiniport, volumeInfo);
  const std::uint32_t informedNth = ++scan.listRequests;
  printLastError(informed);
  const std::uint32_t memberCount = vroc::readVolumeMemberCount(volumeInfo);
  printNarrow("Number of NVMe RAID volume member disks: %lu\n",
              static_cast<unsigned long>(memberCount));

  auto members = requestList(
      port, vroc::memberListRequestSize(memberCount),
      [&](std::span<std::uint8_t> list) { vroc::buildMemberListRequest(list, memberCount); });
  if (!members) {
    return PortOutcome::AllocationFailed;
  }
  const std::uint32_t listedNth = ++scan.listRequests;
  printLastError(members->listed);
  // A volume whose information or member list could not be read: its
  // drives are one entry not examined.
  if (listRefused(informed, volumeInfo)) {
    scan.setAsideList(informed, volumeInfo, informedNth);
    return PortOutcome::Listed;
  }
  if (memberCount > 0 && listRefused(members->listed, members->list)) {
    scan.result.unlistedMembers = memberCount;
    scan.setAsideList(members->listed, members->list, listedNth);
    return PortOutcome::Listed;
  }
  identifyEntries(port, *members, vroc::kMemberListEntriesOffset, memberCount, DriverKind::VrocRaid,
                  scan, [](const vroc::VrocDiskEntry& entry) {
                    printNarrow("\nSerial: %s\nvrocDiskId:%lx\n", entry.serialText.c_str(),
                                static_cast<unsigned long>(entry.diskId));
                  });
  // A volume with no members still ends the scan on this port.
  return PortOutcome::Listed;
}

PortOutcome listNonRaidDrives(platform::Handle port, PortScan& scan) {
  std::array<std::uint8_t, vroc::kCountRequestSize> count{};
  vroc::buildCountRequest(count, vroc::kNonRaidCountCode);
  sendDeviceRequest(port, platform::kIoctlScsiMiniport, count);
  ++scan.listRequests;
  const std::int32_t driveCount = vroc::readNonRaidCount(count);
  if (driveCount <= 0) {
    return PortOutcome::NotServed;
  }
  const auto drives = static_cast<std::uint32_t>(driveCount);
  auto listed = requestList(
      port, vroc::nonRaidListRequestSize(drives),
      [&](std::span<std::uint8_t> list) { vroc::buildNonRaidListRequest(list, drives); });
  if (!listed) {
    return PortOutcome::AllocationFailed;
  }
  if (const std::uint32_t listedNth = ++scan.listRequests;
      listRefused(listed->listed, listed->list)) {
    scan.setAsideList(listed->listed, listed->list, listedNth);
    return PortOutcome::Listed;
  }
  identifyEntries(port, *listed, vroc::kNonRaidListEntriesOffset, drives, DriverKind::VrocNonRaid,
                  scan, [](const vroc::VrocDiskEntry&) {});
  return PortOutcome::Listed;
}

PortOutcome scanPort(platform::Handle port, PortScan& scan) {
  // Only the count is looked at: it stays 0 when the port does not answer.
  std::array<std::uint8_t, vroc::kCountRequestSize> volumeCount{};
  vroc::buildCountRequest(volumeCount, vroc::kRaidVolumeCountCode);
  sendDeviceRequest(port, platform::kIoctlScsiMiniport, volumeCount);
  ++scan.listRequests;
  const std::uint32_t volumes = vroc::readRaidVolumeCount(volumeCount);
  if (volumes == 0) {
    return listNonRaidDrives(port, scan);
  }
  scan.result.raidVolumeReported = true;
  const PortOutcome members = listRaidMembers(port, scan);
  if (members != PortOutcome::Listed) {
    return members;
  }
  // The information and member requests name volume 1 only; the request for
  // a later volume is not known, so its drives are never guessed at.
  if (volumes > 1) {
    scan.setAside(L"RAID volumes 2 to " + std::to_wstring(volumes) + L" of " + scan.path);
  }
  // The same port's drives outside the volume.
  return listNonRaidDrives(port, scan) == PortOutcome::AllocationFailed
             ? PortOutcome::AllocationFailed
             : PortOutcome::Listed;
}

}  // namespace

VrocScan scanVrocDisks(DiskInfo candidate, DiskList& identified, std::int32_t& vrocScsiPort,
                       DeviceOpens* opens) {
  VrocScan result;
  for (std::int32_t port = 0; port < vroc::kScsiPortCount; ++port) {
    const std::wstring path = vroc::scsiPortPath(port);
    const OpenOutcome opened =
        openScsiPort(port, platform::kFileShareReadWrite, platform::kFileAttributeNormal, opens);
    if (!opened.ok()) {
      continue;
    }
    PortScan scan{path, candidate, identified, result};
    switch (scanPort(opened.handle.get(), scan)) {
      case PortOutcome::NotServed:
        break;
      case PortOutcome::Listed:
        vrocScsiPort = port;
        return result;
      case PortOutcome::AllocationFailed:
        result.code = -1;
        return result;
    }
  }
  return result;
}

}  // namespace zev
