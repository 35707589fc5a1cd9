// Identification of an inbox NVMe disk: the Identify Controller data through
// IOCTL_STORAGE_QUERY_PROPERTY (the NVMe protocol-specific query) gives the
// drive's SN, MN, FR and, from VER and FWUG, its update granularity. Opens the
// disk for one request and closes it again.
#include "discovery/inbox_identify.hpp"

#include <vector>

#include "core/text.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/identify_fields.hpp"
#include "records/storage_query_records.hpp"
#include "report/console.hpp"
#include "report/open_or_report.hpp"

namespace zev {

namespace {
constexpr int kIdentified = 0;
constexpr int kOpenFailed = 2;
constexpr int kQueryFailed = 5;
}  // namespace

StepOutcome identifyInboxDisk(DiskInfo candidate, DiskList& identified) {
  const OpenedDevice opened =
      openOrReport(candidate.devicePath, platform::kFileShareReadWrite, 0, kOpenFailed);
  if (!opened.ok()) {
    return opened.failure;
  }

  std::vector<std::uint8_t> buffer(storage::kIdentifyQuerySize, 0);
  storage::writeIdentifyControllerQuery(buffer);
  const RequestOutcome outcome =
      sendDeviceRequest(opened.handle.get(), platform::kIoctlStorageQueryProperty, buffer);
  if (!outcome.delivered) {
    return failedStep(kQueryFailed, "Identify failed: 0x" + lowerHex(outcome.lastError),
                      FailedRequest{RequestKind::Identify, FailureForm::Error, outcome.lastError});
  }

  const auto data = storage::identifyDataOf(buffer);
  candidate.serialNumber =
      identify::textUpToZero(data.subspan(identify::kSnOffset, identify::kSnSize));
  candidate.modelNumber =
      identify::textUpToZero(data.subspan(identify::kMnOffset, identify::kMnSize));
  candidate.firmwareRevision =
      identify::textUpToZero(data.subspan(identify::kFrOffset, identify::kFrSize));
  candidate.updateGranularity = identify::granularityFromIdentify(data);
  candidate.identifyFields = identify::rawFieldsOf(data);
  candidate.pathId = -1;
  identified.push_back(candidate);
  return {kIdentified, {}, 0, std::nullopt};
}

}  // namespace zev
