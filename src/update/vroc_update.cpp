// The update path of drives on the VROC driver: the image goes to the drive
// as NVMe Firmware Image Download commands through the driver's "NvmeRAID"
// pass-through on the SCSI port device, then a Firmware Commit puts it in
// slot 2 for activation at the next controller reset. The drive is named by
// its vrocDiskId in the request's ReturnCode field.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "core/zero_filled_buffer.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/vroc_records.hpp"
#include "report/console.hpp"
#include "update/piece_loop.hpp"
#include "update/slot_reads.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

// The driver's pass-through status codes 1 to 15, as the commit reports them.
constexpr std::array<const wchar_t*, 15> kPassThroughErrorLines = {
    L"  [ERROR] NVME_IOCTL_INVALID_IOCTL_CODE\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_SIGNATURE\n\n",
    L"  [ERROR] NVME_IOCTL_INSUFFICIENT_IN_BUFFER\n\n",
    L"  [ERROR] NVME_IOCTL_INSUFFICIENT_OUT_BUFFER\n\n",
    L"  [ERROR] NVME_IOCTL_UNSUPPORTED_ADMIN_CMD\n\n",
    L"  [ERROR] NVME_IOCTL_UNSUPPORTED_NVM_CMD\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_ADMIN_VENDOR_SPECIFIC_OPCODE\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_NVM_VENDOR_SPECIFIC_OPCODE\n\n",
    L"  [ERROR] NVME_IOCTL_ADMIN_VENDOR_SPECIFIC_NOT_SUPPORTED\n\n",
    L"  [ERROR] NVME_IOCTL_NVM_VENDOR_SPECIFIC_NOT_SUPPORTED\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_DIRECTION_SPECIFIED\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_META_BUFFER_LENGTH\n\n",
    L"  [ERROR] NVME_IOCTL_PRP_TRANSLATION_ERROR\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_PATH_TARGET_ID\n\n",
    L"  [ERROR] NVME_IOCTL_FORMAT_NVM_PENDING\n\n",
};

// Sends every piece of the plan; false at the first piece that is not
// delivered, refused or completed with an NVMe status, after its error line.
bool sendPieces(platform::Handle port, const DiskInfo& disk, std::span<const std::uint8_t> image,
                std::uint32_t transferLength) {
  const auto pieces = ImagePieces::plan(image, transferLength, pieceSizeFor(disk.updateGranularity),
                                        static_cast<std::uint32_t>(vroc::kDownloadFixedSize));
  if (!pieces) {
    return false;
  }
  if (pieces->empty()) {
    return true;  // nothing to send
  }
  auto buffer = zeroFilledBuffer(std::uint64_t{pieces->longest()} + vroc::kDownloadFixedSize);
  if (!buffer) {
    return false;
  }
  return pieces->sendEach([&](const ImagePiece& piece) {
    // A short last piece goes out in a request of its own length. The
    // request is zeroed before the builder fills it (the reply to the piece
    // before is still in the buffer); bytes of the buffer beyond a short
    // request are never sent.
    const auto request =
        std::span<std::uint8_t>(*buffer).first(piece.bytes.size() + vroc::kDownloadFixedSize);
    std::fill(request.begin(), request.end(), std::uint8_t{0});
    vroc::buildDownloadRequest(request, disk.vrocDiskId, piece.offset, piece.bytes);
    const RequestOutcome outcome =
        sendDeviceRequest(port, platform::kIoctlScsiMiniport, request,
                          static_cast<std::uint32_t>(request.size()), vroc::kPassThroughOutputSize);
    if (!outcome.delivered) {
      printWide(L"  [ERROR] Firmware download IOCTL failed: 0x%X\n",
                static_cast<unsigned int>(outcome.lastError));
      return false;
    }
    const std::uint32_t returnCode = srb::readReturnCode(request);
    if (returnCode != 0) {
      printWide(L"  [ERROR] Firmware download failed: srbControl->ReturnCode %d\n",
                static_cast<int>(returnCode));
      return false;
    }
    const std::uint32_t completion = vroc::readCompletionDword3(request);
    if (vroc::completionFailed(completion)) {
      printWide(
          L"  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
          L"0x%08x\n",
          static_cast<unsigned int>(completion >> vroc::kCompletionStatusShift));
      return false;
    }
    return true;
  });
}

}  // namespace

int updateThroughVroc(const DiskInfo& disk, std::span<const std::uint8_t> image,
                      std::uint32_t& transferLength, std::int32_t vrocScsiPort) {
  printTargetDiskBlock(disk, L"VROC Driver", false);
  // The port is held exclusively (share mode 0) for this drive's update.
  const OpenOutcome opened = openDevice(vroc::scsiPortPath(vrocScsiPort), 0, 0);
  if (!opened.ok()) {
    printErrorLine("Failed to get disk handle: 0x", opened.lastError);
    return kResultRequestFailed;
  }
  const int result = vrocDownload(opened.handle.get(), disk, image, transferLength);
  if (result != 0) {
    return result;
  }
  return vrocActivate(opened.handle.get(), disk.vrocDiskId);
}

int vrocDownload(platform::Handle handle, const DiskInfo& disk, std::span<const std::uint8_t> image,
                 std::uint32_t transferLength) {
  const bool accepted = sendPieces(handle, disk, image, transferLength);
  narrowOut << endLine;
  if (accepted) {
    narrowOut << "  [PASS] Firmware download succeeded." << endLine;
    return 0;
  }
  narrowOut << "  [FAIL] Firmware download failed." << endLine;
  return 1;
}

std::optional<SlotState> readVrocSlots(const DiskInfo& disk, std::int32_t vrocScsiPort) {
  const OpenOutcome opened = openDevice(vroc::scsiPortPath(vrocScsiPort), 0, 0);
  if (!opened.ok()) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> request(vroc::kSlotLogRequestSize, 0);
  vroc::buildSlotLogRequest(request, disk.vrocDiskId);
  const RequestOutcome outcome =
      sendDeviceRequest(opened.handle.get(), platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered || srb::readReturnCode(request) != 0 ||
      vroc::completionFailed(vroc::readCompletionDword3(request))) {
    return std::nullopt;
  }
  const auto log = vroc::readSlotLog(request);
  if (!log) {
    return std::nullopt;
  }
  SlotState state;
  state.activeSlot = log->activeSlot;
  if (log->nextResetSlot != 0) {
    state.pendingSlot = log->nextResetSlot;
  }
  for (const auto& revision : log->revisions) {
    state.revisions.emplace_back(revision);
  }
  return state;
}

int vrocActivate(platform::Handle handle, std::uint32_t vrocDiskId) {
  std::array<std::uint8_t, vroc::kCommitRequestSize> request{};
  vroc::buildCommitRequest(request, vrocDiskId);
  const RequestOutcome outcome = sendDeviceRequest(handle, platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered) {
    printWide(L"  [ERROR] Firmware activate IOCTL failed: 0x%X\n",
              static_cast<unsigned int>(outcome.lastError));
    return kResultFailure;
  }
  const std::uint32_t returnCode = srb::readReturnCode(request);
  if (returnCode == 0) {
    const std::uint32_t completion = vroc::readCompletionDword3(request);
    if (vroc::completionFailed(completion)) {
      printWide(
          L"  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: 0x%08x\n",
          static_cast<unsigned int>(completion >> vroc::kCompletionStatusShift));
      return kResultRequestFailed;
    }
    printWide(L"  [PASS] Firmware activation succeeded. Please reboot computer.\n\n");
    return kResultSuccess;
  }
  if (returnCode <= kPassThroughErrorLines.size()) {
    printWide(L"%ls", kPassThroughErrorLines[returnCode - 1]);
  } else {
    printWide(
        L"  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode %d\n\n",
        static_cast<int>(returnCode));
  }
  return kResultFailure;
}

}  // namespace zev
