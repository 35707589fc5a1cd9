// What the simulated drivers share: the buffered-request conventions of the
// I/O manager, the port driver's checks of SRB_IO_CONTROL on
// IOCTL_SCSI_MINIPORT, and the Windows miniport firmware functions
// (FIRMWARE_REQUEST_BLOCK with STORAGE_FIRMWARE_* records) that both the
// inbox NVMe driver and the IRST driver carry out on a drive.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "endpoint.hpp"
#include "zevsim/machine_config.hpp"

namespace zevsim {

class NvmeDrive;

// The call fails with error; the caller's buffer stays untouched.
IoReply notDelivered(std::uint32_t error);

// A delivered METHOD_BUFFERED request: the first `returned` bytes of buffer go
// back, as many as the caller's output length holds.
IoReply deliveredReply(std::span<const std::uint8_t> buffer, std::uint64_t returned,
                       std::uint32_t outSize);

// An IOCTL_SCSI_MINIPORT request that passed the port driver's checks: the
// input is at least an SRB_IO_CONTROL, HeaderLength is 28, and
// HeaderLength + Length fits in the larger of the input and output buffers.
// The driver works on exactly HeaderLength + Length bytes: the input copied,
// anything beyond it zero.
class MiniportRequest {
 public:
  // nullopt: the request is malformed and is not delivered
  // (ERROR_INVALID_PARAMETER).
  static std::optional<MiniportRequest> accept(std::span<const std::uint8_t> in,
                                               std::uint32_t outSize);

  std::span<std::uint8_t> bytes() { return buffer_; }
  std::span<const std::uint8_t> bytes() const { return buffer_; }
  std::size_t size() const { return buffer_.size(); }

  bool signatureIs(std::string_view signature) const;
  std::uint32_t controlCode() const;
  std::uint32_t returnCode() const;
  void setReturnCode(std::uint32_t status);

  // Delivered: the whole request goes back, cut to the output length.
  IoReply reply(std::uint32_t outSize) const;

 private:
  explicit MiniportRequest(std::vector<std::uint8_t> buffer) : buffer_(std::move(buffer)) {}
  std::vector<std::uint8_t> buffer_;
};

// Applies a fault that stops a request before the drive or controller acts on
// it: `error` fails the call, `returnCode` delivers it with that status and
// nothing else changed. nullopt when no such fault applies.
std::optional<IoReply> stopByFault(const Fault* fault, MiniportRequest& request,
                                   std::uint32_t outSize);

// --- Miniport firmware functions ---------------------------------------------

// A `returnCode` fault that still reports success on the Windows firmware
// interfaces (FIRMWARE_STATUS_POWER_CYCLE_REQUIRED on an activation) does not
// stop its request: the drive carries it out and the fault replaces only the
// reply's ReturnCode. firmwareStoppingFault is the fault to give stopByFault
// (nullptr for such a fault); firmwareReplyStatus the ReturnCode of the reply
// once the drive has acted.
const Fault* firmwareStoppingFault(const Fault* fault, FaultRequest kind);
std::uint32_t firmwareReplyStatus(const Fault* fault, FaultRequest kind, std::uint32_t driveStatus);

struct FirmwareRequestBlock {
  std::uint32_t function = 0;
  std::uint32_t flags = 0;
  std::uint32_t dataBufferOffset = 0;
  std::uint32_t dataBufferLength = 0;
};

// Reads the FIRMWARE_REQUEST_BLOCK at offset at of request. nullopt when it
// does not fit or its Version or Size is not the published one.
std::optional<FirmwareRequestBlock> readFirmwareRequestBlock(std::span<const std::uint8_t> request,
                                                             std::size_t at);

// The function's data record: DataBufferLength bytes at DataBufferOffset.
// nullopt when it starts before dataStart (over the request's own records)
// or reaches past the end of the request.
std::optional<std::span<std::uint8_t>> firmwareDataRecord(std::span<std::uint8_t> request,
                                                          const FirmwareRequestBlock& block,
                                                          std::size_t dataStart);

// The fault kind of a firmware function (GET_INFO, DOWNLOAD, ACTIVATE).
std::optional<FaultRequest> firmwareFunctionKind(std::uint32_t function);

// STORAGE_FIRMWARE_INFO (version 1): with FIRMWARE_REQUEST_FLAG_CONTROLLER
// one slot entry per drive slot; without it the request is for the device,
// and only the active slot is described (SlotCount 1).
std::vector<std::uint8_t> firmwareInfo(const NvmeDrive& drive, bool controller);

// STORAGE_FIRMWARE_INFO_V2 with one 24-byte slot entry per drive slot.
std::vector<std::uint8_t> firmwareInfoV2(const NvmeDrive& drive);

// Which download records a driver takes.
enum class DownloadRecords {
  // The inbox driver: STORAGE_FIRMWARE_DOWNLOAD (Size 24 or its padded
  // sizeof 32) and STORAGE_FIRMWARE_DOWNLOAD_V2 (Size 32 or 40), any Slot
  // and ImageSize.
  Windows,
  // The IRST driver: STORAGE_FIRMWARE_DOWNLOAD_V2 only, Size 32, Slot 0xFF
  // and ImageSize 0.
  IntelFw,
};

// FIRMWARE_FUNCTION_DOWNLOAD on a download record; returns the
// FIRMWARE_STATUS_* value.
std::uint32_t firmwareDownload(NvmeDrive& drive, std::span<const std::uint8_t> record,
                               DownloadRecords accepted);

// FIRMWARE_FUNCTION_ACTIVATE on a STORAGE_FIRMWARE_ACTIVATE record (Version
// 1; Size at least 12, or exactly 12 when exactSize); returns the
// FIRMWARE_STATUS_* value.
std::uint32_t firmwareActivate(NvmeDrive& drive, std::span<const std::uint8_t> record,
                               bool exactSize);

}  // namespace zevsim
