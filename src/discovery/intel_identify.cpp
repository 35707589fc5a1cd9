// Identification of the drives behind the IRST driver. A RAID volume disk is
// resolved into its member drives through the CSMI RAID configuration of its
// RAID set; every member and every non-RAID drive is then identified with an
// NVMe Identify Controller sent through the "IntelNvm" pass-through on the
// controller's storage-port path.
#include "discovery/intel_identify.hpp"

#include "core/zero_filled_buffer.hpp"

#include <algorithm>
#include <vector>

#include "core/counted_open.hpp"
#include "core/text.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/identify_fields.hpp"
#include "records/intel_requests.hpp"
#include "report/console.hpp"
#include "report/open_or_report.hpp"

namespace zev {

namespace {

constexpr int kIdentifyRequestFailed = 5;
constexpr int kIdentifyNoDevice = 8;
constexpr int kCsmiFailed = 5;
constexpr int kControllerOpenFailed = 2;

// Sends one CSMI RAID configuration request on the open controller; prints
// the error line of a request that was not delivered or that the driver
// refused. Code 0 when the reply may be read.
StepOutcome sendCsmiRequest(platform::Handle controller, std::vector<std::uint8_t>& request) {
  const RequestOutcome outcome =
      sendDeviceRequest(controller, platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered) {
    return failedStep(kCsmiFailed,
                      "CSMI GET RAID CONFIG IOCTL failed: 0x" + upperHex(outcome.lastError),
                      FailedRequest{RequestKind::Csmi, FailureForm::Error, outcome.lastError});
  }
  const std::uint32_t returnCode = intel::CsmiRaidConfigReply(request).returnCode();
  if (returnCode != 0) {
    return failedStep(kCsmiFailed, "CSMI GET RAID CONFIG ReturnCode: 0x" + lowerHex(returnCode),
                      FailedRequest{RequestKind::Csmi, FailureForm::ReturnCode, returnCode});
  }
  return {};
}

// The volume's record in the observation, or one that goes nowhere.
ObservedRaidVolume& observedVolume(MachineObservation* observation, ObservedRaidVolume& ignored) {
  return observation != nullptr ? observation->raidVolumes.emplace_back() : ignored;
}

}  // namespace

void observeIntelIdentify(MachineObservation* observation, std::int64_t pathId,
                          const StepOutcome& identified) {
  if (observation == nullptr) {
    return;
  }
  if (identified.failedRequest) {
    observation->identifyFailures.push_back({pathId, *identified.failedRequest});
  }
}

StepOutcome queryCsmiRaidConfig(DiskInfo candidate, DiskList& identified,
                                std::uint32_t raidSetIndex, MachineObservation* observation) {
  ObservedRaidVolume ignored;
  ObservedRaidVolume& volume = observedVolume(observation, ignored);
  std::vector<std::uint8_t> request(
      intel::csmiRaidConfigRequestSize(intel::kCsmiFirstRequestMembers), 0);
  intel::writeCsmiRaidConfigRequest(request, raidSetIndex);

  DeviceOpens* opens = observation != nullptr ? &observation->opens : nullptr;
  const OpenedDevice opened =
      reportOpen(openController(candidate.devicePath, 0, 0, opens), kControllerOpenFailed);
  if (!opened.ok()) {
    return opened.failure;
  }
  // Held exclusively while the members are identified through their own
  // shared opens of the same path.

  ++volume.csmiRequests;
  if (StepOutcome sent = sendCsmiRequest(opened.handle.get(), request); sent.code != 0) {
    volume.failedRequest = sent.failedRequest;
    return sent;
  }
  // The driver reports the set's true bDriveCount even when the request had
  // room for fewer entries: ask once more with room for all of them, so that
  // every member of a RAID 5 or RAID 10 set is identified.
  const std::uint8_t driveCount = intel::CsmiRaidConfigReply(request).driveCount();
  if (driveCount > intel::kCsmiFirstRequestMembers) {
    // At most 255 entries of 136 bytes.
    request.assign(intel::csmiRaidConfigRequestSize(driveCount), 0);
    intel::writeCsmiRaidConfigRequest(request, raidSetIndex);
    ++volume.csmiRequests;
    if (StepOutcome sent = sendCsmiRequest(opened.handle.get(), request); sent.code != 0) {
      volume.failedRequest = sent.failedRequest;
      return sent;
    }
  }

  const intel::CsmiRaidConfigReply reply(request);
  const std::size_t members = std::min<std::size_t>(reply.driveCount(), reply.entryRoom());
  for (std::size_t i = 0; i < members; ++i) {
    DiskInfo member;
    member.devicePath = candidate.devicePath;
    member.pathId = *reply.memberPort(i);
    member.driverKind = DriverKind::IrstRaid;
    volume.memberPorts.push_back(member.pathId);
    observeIntelIdentify(observation, member.pathId,
                         identifyIntelPassThroughDisk(member, identified, opens));
  }
  return {};
}

StepOutcome identifyIntelPassThroughDisk(DiskInfo disk, DiskList& identified, DeviceOpens* opens) {
  auto request = zeroFilledBuffer(intel::kIntelNvmRequestSize);
  if (!request) {
    return {kIdentifyNoDevice, {}, 0, std::nullopt};
  }
  intel::writeIntelNvmIdentifyRequest(*request, intel::pathIdByte(disk.pathId));

  const OpenOutcome opened = openController(disk.devicePath, platform::kFileShareReadWrite,
                                            platform::kFileAttributeNormal, opens);
  if (!opened.ok()) {
    return {kIdentifyNoDevice,
            {},
            opened.lastError,
            FailedRequest{RequestKind::Open, FailureForm::Error, opened.lastError}};
  }

  // This step is silent on failure: the last error of an undelivered request
  // travels in the outcome only.
  const RequestOutcome sent =
      sendDeviceRequest(opened.handle.get(), platform::kIoctlScsiMiniport, *request);
  if (!sent.delivered) {
    return {kIdentifyRequestFailed,
            {},
            sent.lastError,
            FailedRequest{RequestKind::Identify, FailureForm::Error, sent.lastError}};
  }
  // A request the driver refused returns no Identify data: the drive is
  // absent, as when the request is not delivered.
  if (const std::uint32_t returnCode = srb::readReturnCode(*request); returnCode != 0) {
    return {kIdentifyRequestFailed,
            {},
            0,
            FailedRequest{RequestKind::Identify, FailureForm::ReturnCode, returnCode}};
  }
  const std::span<const std::uint8_t> data = intel::intelNvmIdentifyData(*request);
  disk.serialNumber +=
      identify::textWholeField(data.subspan(identify::kSnOffset, identify::kSnSize));
  disk.modelNumber +=
      identify::textWholeField(data.subspan(identify::kMnOffset, identify::kMnSize));
  disk.firmwareRevision +=
      identify::textWholeField(data.subspan(identify::kFrOffset, identify::kFrSize));
  disk.updateGranularity = identify::granularityFromIdentify(data);
  disk.identifyFields = identify::rawFieldsOf(data);
  identified.push_back(disk);
  return {};
}

}  // namespace zev
