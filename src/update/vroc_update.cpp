// The update path of drives on the VROC driver: the image goes to the drive
// as NVMe Firmware Image Download commands through the driver's "NvmeRAID"
// pass-through on the SCSI port device, then a Firmware Commit puts it in
// slot 2 for activation at the next controller reset. The drive is named by
// its vrocDiskId in the request's ReturnCode field.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/counted_open.hpp"
#include "core/text.hpp"
#include "core/zero_filled_buffer.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/vroc_records.hpp"
#include "report/console.hpp"
#include "report/open_or_report.hpp"
#include "update/piece_loop.hpp"
#include "update/slot_reads.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

// The driver's pass-through status codes 1 to 15, as the commit reports them.
constexpr std::array<const char*, 15> kPassThroughErrorNames = {
    "NVME_IOCTL_INVALID_IOCTL_CODE",
    "NVME_IOCTL_INVALID_SIGNATURE",
    "NVME_IOCTL_INSUFFICIENT_IN_BUFFER",
    "NVME_IOCTL_INSUFFICIENT_OUT_BUFFER",
    "NVME_IOCTL_UNSUPPORTED_ADMIN_CMD",
    "NVME_IOCTL_UNSUPPORTED_NVM_CMD",
    "NVME_IOCTL_INVALID_ADMIN_VENDOR_SPECIFIC_OPCODE",
    "NVME_IOCTL_INVALID_NVM_VENDOR_SPECIFIC_OPCODE",
    "NVME_IOCTL_ADMIN_VENDOR_SPECIFIC_NOT_SUPPORTED",
    "NVME_IOCTL_NVM_VENDOR_SPECIFIC_NOT_SUPPORTED",
    "NVME_IOCTL_INVALID_DIRECTION_SPECIFIED",
    "NVME_IOCTL_INVALID_META_BUFFER_LENGTH",
    "NVME_IOCTL_PRP_TRANSLATION_ERROR",
    "NVME_IOCTL_INVALID_PATH_TARGET_ID",
    "NVME_IOCTL_FORMAT_NVM_PENDING",
};

// Sends one piece in request, a span of the pass-through buffer sized for
// the piece; code 1 when it is not delivered, refused or completed with an
// NVMe status, after its error line.
StepOutcome sendPiece(platform::Handle port, const DiskInfo& disk, const ImagePiece& piece,
                      std::span<std::uint8_t> request) {
  vroc::buildDownloadRequest(request, disk.vrocDiskId, piece.offset, piece.bytes);
  const RequestOutcome outcome =
      sendDeviceRequest(port, platform::kIoctlScsiMiniport, request,
                        static_cast<std::uint32_t>(request.size()), vroc::kPassThroughOutputSize);
  if (!outcome.delivered) {
    return failedStep(1, "Firmware download IOCTL failed: 0x" + upperHex(outcome.lastError),
                      outcome.lastError, 1);
  }
  const std::uint32_t returnCode = srb::readReturnCode(request);
  if (returnCode != 0) {
    return failedStep(1,
                      "Firmware download failed: srbControl->ReturnCode " +
                          std::to_string(static_cast<int>(returnCode)),
                      0, 1);
  }
  const std::uint32_t completion = vroc::readCompletionDword3(request);
  if (vroc::completionFailed(completion)) {
    return failedStep(1,
                      "Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: 0x" +
                          eightDigitHex(completion >> vroc::kCompletionStatusShift),
                      0, 1);
  }
  return {};
}

// Sends every piece of the plan; code 1 at the first that fails (or when the
// plan or its buffer cannot be had).
StepOutcome sendPieces(platform::Handle port, const DiskInfo& disk,
                       std::span<const std::uint8_t> image, std::uint32_t transferLength) {
  const auto pieces = ImagePieces::plan(image, transferLength, pieceSizeFor(disk.updateGranularity),
                                        static_cast<std::uint32_t>(vroc::kDownloadFixedSize));
  if (!pieces) {
    return {1, {}, 0};
  }
  if (pieces->empty()) {
    return {};  // nothing to send
  }
  auto buffer = zeroFilledBuffer(std::uint64_t{pieces->longest()} + vroc::kDownloadFixedSize);
  if (!buffer) {
    return {1, {}, 0};
  }
  StepOutcome sent;
  pieces->sendEach([&](const ImagePiece& piece) {
    // A short last piece goes out in a request of its own length. The
    // request is zeroed before the builder fills it (the reply to the piece
    // before is still in the buffer); bytes of the buffer beyond a short
    // request are never sent.
    const auto request =
        std::span<std::uint8_t>(*buffer).first(piece.bytes.size() + vroc::kDownloadFixedSize);
    std::fill(request.begin(), request.end(), std::uint8_t{0});
    sent = sendPiece(port, disk, piece, request);
    return sent.code == 0;
  });
  return sent;
}

}  // namespace

StepOutcome updateThroughVroc(const DiskInfo& disk, std::uint32_t& transferLength,
                              std::int32_t vrocScsiPort, std::span<const std::uint8_t> image,
                              const PackageIdentity& identity) {
  printTargetDiskBlock(disk, identity);
  // The port is held exclusively (share mode 0) for this drive's update.
  const OpenedDevice port =
      openOrReport(vroc::scsiPortPath(vrocScsiPort), 0, 0, kResultRequestFailed);
  if (!port.ok()) {
    return port.failure;
  }
  const StepOutcome downloaded = vrocDownload(port.handle.get(), disk, image, transferLength);
  if (downloaded.code != 0) {
    return downloaded;
  }
  return vrocActivate(port.handle.get(), disk.vrocDiskId);
}

StepOutcome vrocDownload(platform::Handle handle, const DiskInfo& disk,
                         std::span<const std::uint8_t> image, std::uint32_t transferLength) {
  return downloadVerdict(sendPieces(handle, disk, image, transferLength));
}

SlotRead readVrocSlots(const DiskInfo& disk, std::int32_t vrocScsiPort, DeviceOpens* opens) {
  const OpenOutcome opened = openScsiPort(vrocScsiPort, 0, 0, opens);
  if (!opened.ok()) {
    SlotRead failed = slotReadFailed(
        kResultRequestFailed,
        FailedRequest{RequestKind::ScsiPortOpen, FailureForm::Error, opened.lastError});
    failed.openNth = opens != nullptr ? opens->ofScsiPort(vrocScsiPort) : 0;
    return failed;
  }
  std::vector<std::uint8_t> request(vroc::kSlotLogRequestSize, 0);
  vroc::buildSlotLogRequest(request, disk.vrocDiskId);
  const RequestOutcome outcome =
      sendDeviceRequest(opened.handle.get(), platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered) {
    return slotReadFailed(
        kResultRequestFailed,
        FailedRequest{RequestKind::GetInfo, FailureForm::Error, outcome.lastError});
  }
  if (const std::uint32_t returnCode = srb::readReturnCode(request); returnCode != 0) {
    return slotReadFailed(kResultFailure,
                          FailedRequest{RequestKind::GetInfo, FailureForm::ReturnCode, returnCode});
  }
  if (const std::uint32_t completion = vroc::readCompletionDword3(request);
      vroc::completionFailed(completion)) {
    return slotReadFailed(kResultFailure,
                          FailedRequest{RequestKind::GetInfo, FailureForm::Completion, completion});
  }
  const auto log = vroc::readSlotLog(request);
  if (!log) {
    return slotReadFailed(kResultFailure);
  }
  SlotState state;
  state.activeSlot = log->activeSlot;
  if (log->nextResetSlot != 0) {
    state.pendingSlot = log->nextResetSlot;
  }
  for (const auto& revision : log->revisions) {
    state.revisions.emplace_back(revision);
  }
  return {std::move(state), {}, std::nullopt};
}

StepOutcome vrocActivate(platform::Handle handle, std::uint32_t vrocDiskId) {
  std::array<std::uint8_t, vroc::kCommitRequestSize> request{};
  vroc::buildCommitRequest(request, vrocDiskId);
  const RequestOutcome outcome = sendDeviceRequest(handle, platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered) {
    return failedStep(kResultFailure,
                      "Firmware activate IOCTL failed: 0x" + upperHex(outcome.lastError),
                      outcome.lastError, 1);
  }
  const std::uint32_t returnCode = srb::readReturnCode(request);
  if (returnCode == 0) {
    const std::uint32_t completion = vroc::readCompletionDword3(request);
    if (vroc::completionFailed(completion)) {
      return failedStep(kResultRequestFailed,
                        "Firmware activation failed: Completion Queue Entry Status Value: 0x" +
                            eightDigitHex(completion >> vroc::kCompletionStatusShift),
                        0, 1);
    }
    narrowOut << "  [PASS] Firmware activation succeeded. Please reboot computer." << endLine
              << endLine;
    return {};
  }
  if (returnCode <= kPassThroughErrorNames.size()) {
    return failedStep(kResultFailure, kPassThroughErrorNames[returnCode - 1]);
  }
  return failedStep(kResultFailure,
                    "Firmware activate failed: unexpected error, srbControl->ReturnCode " +
                        std::to_string(static_cast<int>(returnCode)),
                    0, 2);
}

}  // namespace zev
