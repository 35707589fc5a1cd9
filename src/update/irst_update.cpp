// Firmware update through the IRST driver: the image goes to the drive at the
// record's path id in "IntelFw " download requests on the Intel controller's
// storage-port path, then the driver is asked to activate it in slot 2. The
// download and the activation each print a verdict line.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/counted_open.hpp"
#include "core/text.hpp"
#include "core/zero_filled_buffer.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/intel_requests.hpp"
#include "records/irst_records.hpp"
#include "report/console.hpp"
#include "report/open_or_report.hpp"
#include "update/piece_loop.hpp"
#include "update/slot_reads.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

// The activation's verdict for each firmware status the driver answers with.
struct ActivationLine {
  std::uint32_t returnCode;
  int result;
  const char* text;  // after "  [ERROR] "; null: the PASS line of that status
  bool showsCode;    // the text ends with the ReturnCode in decimal
};

constexpr std::array<ActivationLine, 9> kActivationLines{{
    {fw::kStatusSuccess, kResultSuccess, nullptr, false},
    {fw::kStatusError, kResultFailure, "Firmware activate failed: error returned", false},
    {fw::kStatusControllerError, kResultFailure, "Firmware activate failed: error returned", false},
    {fw::kStatusIllegalRequest, kResultFailure,
     "Firmware activate parameter error: srbControl->ReturnCode ", true},
    {fw::kStatusInvalidParameter, kResultFailure,
     "Firmware activate parameter error: srbControl->ReturnCode ", true},
    {fw::kStatusInputBufferTooBig, kResultFailure,
     "Firmware activate parameter error: srbControl->ReturnCode ", true},
    {fw::kStatusInvalidSlot, kResultFailure, "Firmware activate failed: invalid slot number",
     false},
    {fw::kStatusInvalidImage, kResultFailure, "Firmware activate failed: invalid firmware image",
     false},
    {fw::kStatusPowerCycleRequired, kResultRebootRequired, nullptr, false},
}};

// The ReturnCode as the driver's signed 32-bit value in decimal.
std::string signedDecimal(std::uint32_t returnCode) {
  return std::to_string(static_cast<std::int32_t>(returnCode));
}

}  // namespace

StepOutcome updateThroughIrst(const DiskInfo& disk, std::uint32_t& transferLength,
                              std::span<const std::uint8_t> image,
                              const PackageIdentity& identity) {
  printTargetDiskBlock(disk, identity);

  const OpenedDevice controller = openOrReport(disk.devicePath, 0, 0, kResultRequestFailed);
  if (!controller.ok()) {
    return controller.failure;
  }
  const StepOutcome downloaded = irstDownload(controller.handle.get(), disk, image, transferLength);
  if (downloaded.code != 0) {
    return {kResultFailure, downloaded.diagnostic, downloaded.systemError, std::nullopt};
  }
  return irstActivate(controller.handle.get(), static_cast<std::uint32_t>(disk.pathId));
}

StepOutcome irstDownload(platform::Handle handle, const DiskInfo& disk,
                         std::span<const std::uint8_t> image, std::uint32_t transferLength) {
  // Every byte of the image goes out: when the piece size does not divide the
  // transfer, the last request carries only the remaining bytes and is sized
  // from them. A refused plan sends nothing, so no activation follows an
  // image never sent. The buffer is sized from the first (longest) piece.
  const auto pieces = ImagePieces::plan(image, transferLength, pieceSizeFor(disk.updateGranularity),
                                        static_cast<std::uint32_t>(irst::kDownloadOverhead));
  const std::uint8_t pathId = intel::pathIdByte(disk.pathId);
  auto buffer =
      pieces ? zeroFilledBuffer(irst::downloadRequestSize(pieces->longest())) : std::nullopt;
  StepOutcome sent{buffer ? 0 : 1, {}, 0};
  if (buffer) {
    pieces->sendEach([&](const ImagePiece& piece) {
      const std::span<std::uint8_t> request(buffer->data(),
                                            irst::downloadRequestSize(piece.bytes.size()));
      std::fill(buffer->begin(), buffer->end(), std::uint8_t{0});
      irst::writeDownloadRequest(request, pathId, piece.offset, piece.bytes);
      const RequestOutcome outcome =
          sendDeviceRequest(handle, platform::kIoctlScsiMiniport, request);
      if (!outcome.delivered) {
        sent = failedStep(1, "Firmware download IOCTL failed: 0x" + upperHex(outcome.lastError),
                          outcome.lastError, 1);
        return false;
      }
      const std::uint32_t returnCode = srb::readReturnCode(request);
      if (returnCode != 0) {
        sent = failedStep(
            1, "Firmware download failed: srbControl->ReturnCode " + signedDecimal(returnCode), 0,
            1);
        return false;
      }
      return true;
    });
  }
  return downloadVerdict(std::move(sent));
}

SlotRead readIrstSlots(const DiskInfo& disk, DeviceOpens* opens) {
  const OpenOutcome opened = openController(disk.devicePath, 0, 0, opens);
  if (!opened.ok()) {
    SlotRead failed =
        slotReadFailed(kResultRequestFailed,
                       FailedRequest{RequestKind::Open, FailureForm::Error, opened.lastError});
    failed.openNth = opens != nullptr ? opens->controller : 0;
    return failed;
  }
  std::vector<std::uint8_t> request(irst::kGetInfoRequestSize, 0);
  irst::writeGetInfoRequest(request, intel::pathIdByte(disk.pathId));
  const RequestOutcome outcome =
      sendDeviceRequest(opened.handle.get(), platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered) {
    return slotReadFailed(
        kResultRequestFailed,
        FailedRequest{RequestKind::GetInfo, FailureForm::Error, outcome.lastError});
  }
  if (const std::uint32_t returnCode = srb::readReturnCode(request);
      returnCode != fw::kStatusSuccess) {
    return slotReadFailed(kResultFailure,
                          FailedRequest{RequestKind::GetInfo, FailureForm::ReturnCode, returnCode});
  }
  const auto dataOffset = fw::readDataBufferOffset(request, irst::kRequestBlockOffset);
  const auto info = dataOffset ? fw::readFirmwareInfoV2(request, *dataOffset) : std::nullopt;
  if (!info) {
    return slotReadFailed(kResultFailure);
  }
  return {slotStateOf(*info), {}, std::nullopt};
}

StepOutcome irstActivate(platform::Handle handle, std::uint32_t pathId) {
  std::vector<std::uint8_t> request(irst::kActivateRequestSize, 0);
  irst::writeActivateRequest(request, static_cast<std::uint8_t>(pathId & 0xFFu));
  const RequestOutcome outcome = sendDeviceRequest(handle, platform::kIoctlScsiMiniport, request);
  if (!outcome.delivered) {
    return failedStep(kResultFailure,
                      "Firmware activate IOCTL failed: 0x" + upperHex(outcome.lastError),
                      outcome.lastError, 1);
  }

  // The driver answers with the Windows firmware status codes.
  const std::uint32_t returnCode = srb::readReturnCode(request);
  const auto line =
      std::find_if(kActivationLines.begin(), kActivationLines.end(),
                   [&](const ActivationLine& l) { return l.returnCode == returnCode; });
  if (line == kActivationLines.end()) {
    return failedStep(kResultFailure,
                      "Firmware activate failed: unexpected error, srbControl->ReturnCode " +
                          signedDecimal(returnCode),
                      0, 2);
  }
  if (line->result == kResultSuccess) {
    narrowOut << "  [PASS] Firmware activation succeeded." << endLine << endLine;
    return {};
  }
  if (line->result == kResultRebootRequired) {
    narrowOut << "  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER." << endLine
              << endLine << endLine;
    return {kResultRebootRequired, {}, 0, std::nullopt};
  }
  return failedStep(
      line->result,
      std::string(line->text) + (line->showsCode ? signedDecimal(returnCode) : std::string()), 0,
      2);
}

}  // namespace zev
