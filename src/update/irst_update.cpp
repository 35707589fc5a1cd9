// Firmware update through the IRST driver: the image goes to the drive at the
// record's path id in "IntelFw " download requests on the Intel controller's
// storage-port path, then the driver is asked to activate it in slot 2. The
// download and the activation each print a verdict line.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/zero_filled_buffer.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/intel_requests.hpp"
#include "records/irst_records.hpp"
#include "report/console.hpp"
#include "update/piece_loop.hpp"
#include "update/slot_reads.hpp"
#include "update/update_paths.hpp"

namespace zev {

int updateThroughIrst(const DiskInfo& disk, std::span<const std::uint8_t> image,
                      std::uint32_t& transferLength) {
  printTargetDiskBlock(disk, L"IRST Driver", true);

  const OpenOutcome opened = openDevice(disk.devicePath, 0, 0);
  if (!opened.ok()) {
    printErrorLine("Failed to get disk handle: 0x", opened.lastError);
    return kResultRequestFailed;
  }

  if (irstDownload(opened.handle.get(), disk, image, transferLength) != 0) {
    return kResultFailure;
  }
  return irstActivate(opened.handle.get(), static_cast<std::uint32_t>(disk.pathId));
}

int irstDownload(platform::Handle handle, const DiskInfo& disk, std::span<const std::uint8_t> image,
                 std::uint32_t transferLength) {
  // Every byte of the image goes out: when the piece size does not divide the
  // transfer, the last request carries only the remaining bytes and is sized
  // from them. A refused plan sends nothing, so no activation follows an
  // image never sent. The buffer is sized from the first (longest) piece.
  const auto pieces = ImagePieces::plan(image, transferLength, pieceSizeFor(disk.updateGranularity),
                                        static_cast<std::uint32_t>(irst::kDownloadOverhead));
  const std::uint8_t pathId = intel::pathIdByte(disk.pathId);
  auto buffer =
      pieces ? zeroFilledBuffer(irst::downloadRequestSize(pieces->longest())) : std::nullopt;
  const bool accepted = buffer && pieces->sendEach([&](const ImagePiece& piece) {
    const std::span<std::uint8_t> request(buffer->data(),
                                          irst::downloadRequestSize(piece.bytes.size()));
    std::fill(buffer->begin(), buffer->end(), std::uint8_t{0});
    irst::writeDownloadRequest(request, pathId, piece.offset, piece.bytes);
    const RequestOutcome outcome = sendDeviceRequest(handle, platform::kIoctlScsiMiniport, request);
    if (!outcome.delivered) {
      printWide(L"  [ERROR] Firmware download IOCTL failed: 0x%X\n",
                static_cast<unsigned>(outcome.lastError));
      return false;
    }
    const std::uint32_t returnCode = srb::readReturnCode(request);
    if (returnCode != 0) {
      printWide(L"  [ERROR] Firmware download failed: srbControl->ReturnCode %d\n",
                static_cast<int>(static_cast<std::int32_t>(returnCode)));
      return false;
    }
    return true;
  });

  narrowOut << endLine;
  if (!accepted) {
    narrowOut << "  [FAIL] Firmware download failed." << endLine;
    return 1;
  }
  narrowOut << "  [PASS] Firmware download succeeded." << endLine;
  return 0;
}

std::optional<SlotState> readIrstSlots(const DiskInfo& disk) {
  const OpenOutcome opened = openDevice(disk.devicePath, 0, 0);
  if (!opened.ok()) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> request(irst::kGetInfoRequestSize, 0);
  irst::writeGetInfoRequest(request, intel::pathIdByte(disk.pathId));
  const RequestOutcome outcome =
      sendDeviceRequest(opened.handle.get(), platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered || srb::readReturnCode(request) != fw::kStatusSuccess) {
    return std::nullopt;
  }
  const auto dataOffset = fw::readDataBufferOffset(request, irst::kRequestBlockOffset);
  const auto info = dataOffset ? fw::readFirmwareInfoV2(request, *dataOffset) : std::nullopt;
  return info ? std::optional(slotStateOf(*info)) : std::nullopt;
}

int irstActivate(platform::Handle handle, std::uint32_t pathId) {
  std::vector<std::uint8_t> request(irst::kActivateRequestSize, 0);
  irst::writeActivateRequest(request, static_cast<std::uint8_t>(pathId & 0xFFu));
  const RequestOutcome outcome = sendDeviceRequest(handle, platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered) {
    printWide(L"  [ERROR] Firmware activate IOCTL failed: 0x%X\n",
              static_cast<unsigned>(outcome.lastError));
    return kResultFailure;
  }

  // The driver answers with the Windows firmware status codes.
  const std::uint32_t returnCode = srb::readReturnCode(request);
  const int printed = static_cast<int>(static_cast<std::int32_t>(returnCode));
  switch (returnCode) {
    case fw::kStatusSuccess:
      printWide(L"  [PASS] Firmware activation succeeded.\n\n");
      return kResultSuccess;
    case fw::kStatusError:
    case fw::kStatusControllerError:
      printWide(L"  [ERROR] Firmware activate failed: error returned\n\n");
      return kResultFailure;
    case fw::kStatusIllegalRequest:
    case fw::kStatusInvalidParameter:
    case fw::kStatusInputBufferTooBig:
      printWide(L"  [ERROR] Firmware activate parameter error: srbControl->ReturnCode %d\n\n",
                printed);
      return kResultFailure;
    case fw::kStatusInvalidSlot:
      printWide(L"  [ERROR] Firmware activate failed: invalid slot number\n\n");
      return kResultFailure;
    case fw::kStatusInvalidImage:
      printWide(L"  [ERROR] Firmware activate failed: invalid firmware image\n\n");
      return kResultFailure;
    case fw::kStatusPowerCycleRequired:
      printWide(L"  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n");
      return kResultRebootRequired;
    default:
      printWide(
          L"  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode %d\n\n",
          printed);
      return kResultFailure;
  }
}

}  // namespace zev
