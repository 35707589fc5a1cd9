// The firmware update through the inbox NVMe driver: the storport miniport
// firmware interface (IOCTL_SCSI_MINIPORT, SRB_IO_CONTROL "FIRMWARE" with
// IOCTL_SCSI_MINIPORT_FIRMWARE, a FIRMWARE_REQUEST_BLOCK at 28 and the data
// record at 52). Asks for the firmware slots, downloads the image in the
// pieces of the piece plan, and activates it in the first writable slot. One
// request buffer of piece size + 76 bytes serves every request; the drive is
// open only within one call.
#include <algorithm>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "app/firmware_image.hpp"
#include "discovery/srb_io_control.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "report/console.hpp"
#include "update/firmware_records.hpp"
#include "update/piece_plan.hpp"
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

// "  [ERROR] " + text + the code in lower-case hexadecimal, then an empty line.
void printDiagnostic(std::string_view text, std::uint32_t code) {
  narrowOut << "  [ERROR] " << text << NumberBase::Hex << code << NumberBase::Dec << endLine
            << endLine;
}

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

SlotChoice chooseSlot(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer) {
  const auto request = beginRequest(buffer, buffer.size(), fw::kFunctionGetInfo);
  const RequestOutcome outcome = send(drive, request);
  if (!outcome.delivered) {
    printDiagnostic("Get device Information Failed: 0x", outcome.lastError);
    return {std::nullopt, kResultRequestFailed};
  }
  const std::uint32_t returnCode = srb::readReturnCode(request);
  if (returnCode != fw::kStatusSuccess) {
    printDiagnostic("Get device info failed. ReturnCode: 0x", returnCode);
    return {std::nullopt, kResultRequestFailed};
  }
  // The driver may move the data area; a STORAGE_FIRMWARE_INFO or slot entry
  // that does not lie wholly inside the buffer is a failed reply.
  const auto dataOffset = fw::readDataBufferOffset(request, kRequestBlockOffset);
  const auto info =
      dataOffset ? fw::readFirmwareInfo(request, *dataOffset) : std::optional<fw::FirmwareInfo>{};
  if (!info) {
    return {std::nullopt, kResultRequestFailed};
  }
  if (!info->upgradeSupport || info->slotCount == 0) {
    return {std::nullopt, kResultFailure};
  }
  for (const fw::FirmwareSlotInfo& slot : info->slots) {
    if (!slot.readOnly) {
      return {slot.slotNumber, kResultSuccess};
    }
  }
  return {std::nullopt, kResultFailure};
}

int download(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer,
             const std::vector<Piece>& pieces) {
  const std::span<const std::uint8_t> image(imageBuffer);
  for (const Piece& piece : pieces) {
    // A short last piece goes out in a request sized from its own length.
    const auto request =
        beginRequest(buffer, piece.length + kRequestOverhead, fw::kFunctionDownload);
    fw::writeDownload(request, kDataOffset, piece.offset,
                      image.subspan(piece.offset, piece.length));
    const RequestOutcome outcome = send(drive, request);
    if (!outcome.delivered) {
      printDiagnostic("DeviceIO failed. Function: 0x", outcome.lastError);
      return kResultRequestFailed;
    }
    const std::uint32_t returnCode = srb::readReturnCode(request);
    if (returnCode != fw::kStatusSuccess) {
      printDiagnostic("DeviceIO failed. ReturnCode: 0x", returnCode);
      return kResultRequestFailed;
    }
  }
  return kResultSuccess;
}

int activate(const DeviceHandle& drive, std::vector<std::uint8_t>& buffer, std::uint8_t slot) {
  const auto request = beginRequest(buffer, buffer.size(), fw::kFunctionActivate);
  fw::writeActivate(request, kDataOffset, slot);
  const RequestOutcome outcome = send(drive, request);
  if (!outcome.delivered) {
    printDiagnostic("DeviceIO failed. activate failed: 0x", outcome.lastError);
    return kResultRequestFailed;
  }
  // FIRMWARE_STATUS_POWER_CYCLE_REQUIRED counts as success on this path.
  const std::uint32_t returnCode = srb::readReturnCode(request);
  return (returnCode & ~fw::kStatusPowerCycleRequired) == fw::kStatusSuccess ? kResultSuccess
                                                                             : kResultFailure;
}

}  // namespace

int updateThroughInbox(const DiskInfo& disk, std::uint32_t& transferLength) {
  printTargetDiskBlock(disk, L"IRST Driver", true);

  const std::uint32_t pieceSize = pieceSizeFor(disk.updateGranularity);
  // Pieces are taken from imageBuffer, and every request size is a 32-bit
  // DeviceIoControl length: a transfer longer than the image or a piece size
  // that cannot form a request fails before anything is sent.
  if (transferLength > imageBuffer.size() || pieceSize == 0 ||
      pieceSize > std::numeric_limits<std::uint32_t>::max() - kRequestOverhead) {
    return kResultFailure;
  }
  const std::vector<Piece> pieces = planPieces(transferLength, pieceSize);
  std::vector<std::uint8_t> buffer;
  try {
    buffer.assign(std::size_t{pieceSize} + kRequestOverhead, std::uint8_t{0});
  } catch (const std::bad_alloc&) {
    return kResultFailure;
  }

  const OpenOutcome opened = openDevice(disk.devicePath, platform::kFileShareReadWrite, 0);
  if (!opened.ok()) {
    return kResultRequestFailed;
  }
  const DeviceHandle drive(opened.handle);

  const SlotChoice choice = chooseSlot(drive, buffer);
  if (!choice.slot) {
    return choice.result;
  }
  const int downloaded = download(drive, buffer, pieces);
  if (downloaded != kResultSuccess) {
    return downloaded;
  }
  return activate(drive, buffer, *choice.slot);
}

}  // namespace zev
