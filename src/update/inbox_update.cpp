// The firmware update through the inbox NVMe driver: the storport miniport
// firmware interface (IOCTL_SCSI_MINIPORT, SRB_IO_CONTROL "FIRMWARE" with
// IOCTL_SCSI_MINIPORT_FIRMWARE, a FIRMWARE_REQUEST_BLOCK at 28 and the data
// record at 52). Asks for the firmware slots, downloads the image in the
// pieces of the piece plan, and activates it in the first writable slot. One
// request buffer of piece size + 76 bytes serves every request; the drive is
// open only within one call.
#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/zero_filled_buffer.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/firmware_records.hpp"
#include "records/srb_io_control.hpp"
#include "report/console.hpp"
#include "update/piece_loop.hpp"
#include "update/slot_reads.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

constexpr std::string_view kSignature = "FIRMWARE";
constexpr std::uint32_t kTimeoutSeconds = 30;
constexpr std::size_t kRequestBlockOffset = srb::kHeaderSize;  // 28
constexpr std::uint32_t kDataOffset =
    static_cast<std::uint32_t>(kRequestBlockOffset + fw::kRequestBlockSize);  // 52
// Header, request block and the download record's fixed part before the image.
constexpr std::uint32_t kRequestOverhead =
    kDataOffset + static_cast<std::uint32_t>(fw::kDownloadImageOffset);  // 76
static_assert(kRequestOverhead == 76);

// Zeroes the whole buffer and writes the header and request block of a request
// of request.size() bytes at its start.
std::span<std::uint8_t> beginRequest(std::vector<std::uint8_t>& buffer, std::size_t requestSize,
                                     std::uint32_t function) {
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  const std::span<std::uint8_t> request(buffer.data(), requestSize);
  srb::writeHeader(request, kSignature, kTimeoutSeconds, platform::kIoctlScsiMiniportFirmware);
  fw::writeRequestBlock(request, kRequestBlockOffset, function, kDataOffset);
  return request;
}

RequestOutcome send(const DeviceHandle& drive, std::span<std::uint8_t> request) {
  return sendDeviceRequest(drive.get(), platform::kIoctlScsiMiniport, request);
}

// The slot to activate, or a result code when the slot information fails.
struct SlotChoice {
  std::optional<std::uint8_t> slot;
  int result = kResultSuccess;
};

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
  const auto dataOffset = fw::readDataBufferOffset(request, kRequestBlockOffset);
  reply.info = dataOffset ? fw::readFirmwareInfo(request, *dataOffset) : std::nullopt;
  return reply;
}

SlotChoice chooseSlot(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer) {
  const InfoReply reply = requestFirmwareInfo(drive, buffer);
  if (!reply.outcome.delivered) {
    printErrorLine("Get device Information Failed: 0x", reply.outcome.lastError);
    return {std::nullopt, kResultRequestFailed};
  }
  if (reply.returnCode != fw::kStatusSuccess) {
    printErrorLine("Get device info failed. ReturnCode: 0x", reply.returnCode);
    return {std::nullopt, kResultRequestFailed};
  }
  const auto& info = reply.info;
  if (!info) {
    printErrorLine("Get device info failed. Malformed reply.");
    return {std::nullopt, kResultRequestFailed};
  }
  if (!info->upgradeSupport || info->slotCount == 0) {
    printErrorLine("Firmware update is not supported by the drive.");
    return {std::nullopt, kResultFailure};
  }
  for (const fw::FirmwareSlotInfo& slot : info->slots) {
    if (!slot.readOnly) {
      return {slot.slotNumber, kResultSuccess};
    }
  }
  printErrorLine("No writable firmware slot.");
  return {std::nullopt, kResultFailure};
}

int download(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer,
             const ImagePieces& pieces) {
  int result = kResultSuccess;
  pieces.sendEach([&](const ImagePiece& piece) {
    // A short last piece goes out in a request sized from its own length.
    const auto request =
        beginRequest(buffer, piece.bytes.size() + kRequestOverhead, fw::kFunctionDownload);
    fw::writeDownload(request, kDataOffset, piece.offset, piece.bytes);
    const RequestOutcome outcome = send(drive, request);
    if (!outcome.delivered) {
      printErrorLine("DeviceIO failed. Function: 0x", outcome.lastError);
      result = kResultRequestFailed;
      return false;
    }
    const std::uint32_t returnCode = srb::readReturnCode(request);
    if (returnCode != fw::kStatusSuccess) {
      printErrorLine("DeviceIO failed. ReturnCode: 0x", returnCode);
      result = kResultRequestFailed;
      return false;
    }
    return true;
  });
  return result;
}

int activate(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer, std::uint8_t slot) {
  const auto request = beginRequest(buffer, buffer.size(), fw::kFunctionActivate);
  fw::writeActivate(request, kDataOffset, slot);
  const RequestOutcome outcome = send(drive, request);
  if (!outcome.delivered) {
    printErrorLine("DeviceIO failed. activate failed: 0x", outcome.lastError);
    return kResultRequestFailed;
  }
  // FIRMWARE_STATUS_POWER_CYCLE_REQUIRED counts as success on this path.
  const std::uint32_t returnCode = srb::readReturnCode(request);
  if ((returnCode & ~fw::kStatusPowerCycleRequired) == fw::kStatusSuccess) {
    return kResultSuccess;
  }
  printErrorLine("Firmware activation failed. ReturnCode: 0x", returnCode);
  return kResultFailure;
}

}  // namespace

std::optional<SlotState> readInboxSlots(const DiskInfo& disk) {
  auto buffer =
      zeroFilledBuffer(std::uint64_t{pieceSizeFor(disk.updateGranularity)} + kRequestOverhead);
  if (!buffer) {
    return std::nullopt;
  }
  const OpenOutcome opened = openDevice(disk.devicePath, platform::kFileShareReadWrite, 0);
  if (!opened.ok()) {
    return std::nullopt;
  }
  const InfoReply reply = requestFirmwareInfo(opened.handle, *buffer);
  return reply.info ? std::optional(slotStateOf(*reply.info)) : std::nullopt;
}

int updateThroughInbox(const DiskInfo& disk, std::span<const std::uint8_t> image,
                       std::uint32_t& transferLength) {
  printTargetDiskBlock(disk, L"IRST Driver", true);

  // One buffer of a whole piece and the request's fixed part serves every
  // request; a plan or a buffer that cannot be had fails before the drive is
  // opened.
  const std::uint32_t pieceSize = pieceSizeFor(disk.updateGranularity);
  const auto pieces = ImagePieces::plan(image, transferLength, pieceSize, kRequestOverhead);
  if (!pieces) {
    return kResultFailure;
  }
  auto buffer = zeroFilledBuffer(std::uint64_t{pieceSize} + kRequestOverhead);
  if (!buffer) {
    return kResultFailure;
  }

  const OpenOutcome opened = openDevice(disk.devicePath, platform::kFileShareReadWrite, 0);
  if (!opened.ok()) {
    printErrorLine("Failed to get disk handle: 0x", opened.lastError);
    return kResultRequestFailed;
  }
  const SlotChoice choice = chooseSlot(opened.handle, *buffer);
  if (!choice.slot) {
    return choice.result;
  }
  const int downloaded = download(opened.handle, *buffer, *pieces);
  if (downloaded != kResultSuccess) {
    return downloaded;
  }
  return activate(opened.handle, *buffer, *choice.slot);
}

}  // namespace zev
