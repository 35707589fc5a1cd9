// The firmware update through the inbox NVMe driver: the storport miniport
// firmware interface (records/inbox_firmware_request.hpp). Asks for the
// firmware slots, downloads the image in the pieces of the piece plan, and
// activates it in the first writable slot. One request buffer of piece size +
// 76 bytes serves every request; the drive is open only within one call.
#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/text.hpp"
#include "core/zero_filled_buffer.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/inbox_firmware_request.hpp"
#include "report/console.hpp"
#include "report/open_or_report.hpp"
#include "update/piece_loop.hpp"
#include "update/slot_reads.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

// Zeroes the whole buffer and writes the header and request block of a
// request of requestSize bytes at its start.
std::span<std::uint8_t> beginRequest(std::vector<std::uint8_t>& buffer, std::size_t requestSize,
                                     std::uint32_t function) {
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  const std::span<std::uint8_t> request(buffer.data(), requestSize);
  inboxfw::writeRequest(request, function, platform::kIoctlScsiMiniportFirmware);
  return request;
}

RequestOutcome send(const DeviceHandle& drive, std::span<std::uint8_t> request) {
  return sendDeviceRequest(drive.get(), platform::kIoctlScsiMiniport, request);
}

// The slot-information request (GET_INFO) in the whole buffer, and what came
// back.
struct InfoReply {
  RequestOutcome outcome;
  std::uint32_t returnCode = 0;
  std::optional<fw::FirmwareInfo> info;  // when delivered with ReturnCode 0 and well formed
};

InfoReply requestFirmwareInfo(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer) {
  const auto request = beginRequest(buffer, buffer.size(), fw::kFunctionGetInfo);
  InfoReply reply;
  reply.outcome = send(drive, request);
  if (!reply.outcome.delivered) {
    return reply;
  }
  reply.returnCode = srb::readReturnCode(request);
  if (reply.returnCode != fw::kStatusSuccess) {
    return reply;
  }
  // The driver may move the data area; a STORAGE_FIRMWARE_INFO or slot entry
  // that does not lie wholly inside the buffer is a failed reply.
  const auto dataOffset = fw::readDataBufferOffset(request, inboxfw::kRequestBlockOffset);
  reply.info = dataOffset ? fw::readFirmwareInfo(request, *dataOffset) : std::nullopt;
  return reply;
}

// What the slot information says: the slot to activate, or why the update
// cannot go on (its code and diagnostic text, not yet printed).
struct SlotChoice {
  std::optional<std::uint8_t> slot;
  StepOutcome failure;
  std::optional<fw::FirmwareInfo> info;  // when the reply was well formed
};

StepOutcome refusal(int code, std::string text,
                    std::optional<FailedRequest> request = std::nullopt) {
  const std::uint32_t systemError =
      request && request->form == FailureForm::Error ? request->value : 0;
  return {code, std::move(text), systemError, request};
}

SlotChoice chooseSlot(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer) {
  InfoReply reply = requestFirmwareInfo(drive, buffer);
  if (!reply.outcome.delivered) {
    return {
        std::nullopt,
        refusal(kResultRequestFailed,
                "Get device Information Failed: 0x" + lowerHex(reply.outcome.lastError),
                FailedRequest{RequestKind::GetInfo, FailureForm::Error, reply.outcome.lastError}),
        std::nullopt};
  }
  if (reply.returnCode != fw::kStatusSuccess) {
    return {std::nullopt,
            refusal(kResultRequestFailed,
                    "Get device info failed. ReturnCode: 0x" + lowerHex(reply.returnCode),
                    FailedRequest{RequestKind::GetInfo, FailureForm::ReturnCode, reply.returnCode}),
            std::nullopt};
  }
  if (!reply.info) {
    return {std::nullopt, refusal(kResultRequestFailed, "Get device info failed. Malformed reply."),
            std::nullopt};
  }
  SlotChoice choice{std::nullopt, {}, std::move(reply.info)};
  const fw::FirmwareInfo& info = *choice.info;
  if (!info.upgradeSupport || info.slotCount == 0) {
    choice.failure = refusal(kResultFailure, "Firmware update is not supported by the drive.");
    return choice;
  }
  for (const fw::FirmwareSlotInfo& slot : info.slots) {
    if (!slot.readOnly) {
      choice.slot = slot.slotNumber;
      return choice;
    }
  }
  choice.failure = refusal(kResultFailure, "No writable firmware slot.");
  return choice;
}

StepOutcome download(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer,
                     const ImagePieces& pieces) {
  StepOutcome result;
  pieces.sendEach([&](const ImagePiece& piece) {
    // A short last piece goes out in a request sized from its own length.
    const auto request =
        beginRequest(buffer, piece.bytes.size() + inboxfw::kRequestOverhead, fw::kFunctionDownload);
    fw::writeDownload(request, inboxfw::kDataOffset, piece.offset, piece.bytes);
    const RequestOutcome outcome = send(drive, request);
    if (!outcome.delivered) {
      result = failedStep(kResultRequestFailed,
                          "DeviceIO failed. Function: 0x" + lowerHex(outcome.lastError),
                          outcome.lastError);
      return false;
    }
    const std::uint32_t returnCode = srb::readReturnCode(request);
    if (returnCode != fw::kStatusSuccess) {
      result = failedStep(kResultRequestFailed,
                          "DeviceIO failed. ReturnCode: 0x" + lowerHex(returnCode));
      return false;
    }
    return true;
  });
  return result;
}

StepOutcome activate(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer,
                     std::uint8_t slot) {
  const auto request = beginRequest(buffer, buffer.size(), fw::kFunctionActivate);
  fw::writeActivate(request, inboxfw::kDataOffset, slot);
  const RequestOutcome outcome = send(drive, request);
  if (!outcome.delivered) {
    return failedStep(kResultRequestFailed,
                      "DeviceIO failed. activate failed: 0x" + lowerHex(outcome.lastError),
                      outcome.lastError);
  }
  // FIRMWARE_STATUS_POWER_CYCLE_REQUIRED: the image is in place and runs
  // after a power cycle, as the same answer means on the IRST path.
  const std::uint32_t returnCode = srb::readReturnCode(request);
  if (returnCode == fw::kStatusSuccess) {
    return {};
  }
  if (returnCode == fw::kStatusPowerCycleRequired) {
    return {kResultRebootRequired, {}, 0, std::nullopt};
  }
  return failedStep(kResultFailure,
                    "Firmware activation failed. ReturnCode: 0x" + lowerHex(returnCode));
}

std::optional<std::vector<std::uint8_t>> requestBuffer(const DiskInfo& disk) {
  return zeroFilledBuffer(std::uint64_t{pieceSizeFor(disk.updateGranularity)} +
                          inboxfw::kRequestOverhead);
}

}  // namespace

SlotRead readInboxSlots(const DiskInfo& disk) {
  // The update's own first request: whatever would stop the update there
  // makes the update not possible.
  auto buffer = requestBuffer(disk);
  if (!buffer) {
    return slotReadFailed(kResultFailure);
  }
  const OpenOutcome opened = openDevice(disk.devicePath, platform::kFileShareReadWrite, 0);
  if (!opened.ok()) {
    SlotRead read =
        slotReadFailed(kResultRequestFailed,
                       FailedRequest{RequestKind::Open, FailureForm::Error, opened.lastError});
    read.updateNotPossible = "Failed to get disk handle: 0x" + lowerHex(opened.lastError);
    return read;
  }
  SlotChoice choice = chooseSlot(opened.handle, *buffer);
  SlotRead read{choice.info ? std::optional(slotStateOf(*choice.info)) : std::nullopt,
                choice.failure, std::nullopt};
  if (!choice.slot) {
    read.updateNotPossible = choice.failure.diagnostic;
  }
  return read;
}

StepOutcome updateThroughInbox(const DiskInfo& disk, std::uint32_t& transferLength,
                               std::span<const std::uint8_t> image,
                               const PackageIdentity& identity) {
  printTargetDiskBlock(disk, identity);

  // One buffer of a whole piece and the request's fixed part serves every
  // request; a plan or a buffer that cannot be had fails before the drive is
  // opened.
  const std::uint32_t pieceSize = pieceSizeFor(disk.updateGranularity);
  const auto pieces =
      ImagePieces::plan(image, transferLength, pieceSize, inboxfw::kRequestOverhead);
  auto buffer = pieces ? requestBuffer(disk) : std::nullopt;
  if (!buffer) {
    return {kResultFailure, {}, 0, std::nullopt};
  }

  const OpenedDevice drive =
      openOrReport(disk.devicePath, platform::kFileShareReadWrite, 0, kResultRequestFailed);
  if (!drive.ok()) {
    return drive.failure;
  }
  const SlotChoice choice = chooseSlot(drive.handle, *buffer);
  if (!choice.slot) {
    printErrorLine(choice.failure.diagnostic);
    return choice.failure;
  }
  const StepOutcome downloaded = download(drive.handle, *buffer, *pieces);
  if (downloaded.code != kResultSuccess) {
    return downloaded;
  }
  return activate(drive.handle, *buffer, *choice.slot);
}

}  // namespace zev
