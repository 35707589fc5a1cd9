// IntelFwRequest, the firmware request of the IRST driver: IOCTL_SCSI_MINIPORT
// with signature "IntelFw ", the Intel drive address, and the storport
// firmware records (firmware_records.hpp) one address further on than in the
// inbox request.
//
//   offset  size  field
//        0    28  SRB_IO_CONTROL: "IntelFw ", Timeout 30, ControlCode 0xF0000040,
//                 ReturnCode 0 (the driver's FIRMWARE_STATUS_* on return),
//                 Length = size - 28
//       28     4  drive address: version 1, path id, target id 0, LUN 0
//       32    24  FIRMWARE_REQUEST_BLOCK: Version 1, Size 24, Function 2 or 3,
//                 Flags 1 (controller), DataBufferOffset 56,
//                 DataBufferLength = size - 56
//       56     n  STORAGE_FIRMWARE_DOWNLOAD_V2 (Version 2, Size 32, Offset,
//                 BufferSize, Slot 0xFF, ImageSize 0, the piece from 88)
//                 or STORAGE_FIRMWARE_ACTIVATE (Version 1, Size 12, slot 2)
//
// A download request is piece + 88 bytes long; the activate request 68.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "records/firmware_records.hpp"
#include "records/intel_requests.hpp"
#include "records/nvme_command.hpp"
#include "records/srb_io_control.hpp"

namespace zev::irst {

inline constexpr std::string_view kIntelFwSignature = "IntelFw ";
inline constexpr std::uint32_t kIntelFwTimeout = 30;
inline constexpr std::uint32_t kIntelFwControlCode = 0xF0000040u;
inline constexpr std::size_t kRequestBlockOffset = intel::kAddressEnd;
inline constexpr std::size_t kDataRecordOffset = kRequestBlockOffset + fw::kRequestBlockSize;
inline constexpr std::size_t kDownloadImageOffset = kDataRecordOffset + fw::kDownloadV2ImageOffset;
inline constexpr std::size_t kDownloadOverhead = kDownloadImageOffset;
inline constexpr std::size_t kActivateRequestSize = kDataRecordOffset + fw::kActivateRecordSize;
// The slot the IRST driver is asked to activate.
inline constexpr std::uint8_t kActivateSlot = 2;
static_assert(kRequestBlockOffset == 32);
static_assert(kDataRecordOffset == 56);
static_assert(kDownloadImageOffset == 88);
static_assert(kActivateRequestSize == 68);

constexpr std::size_t downloadRequestSize(std::size_t pieceLength) {
  return kDownloadOverhead + pieceLength;
}

// request: downloadRequestSize(piece.size()) bytes. Writes the download of
// the piece at imageOffset.
inline void writeDownloadRequest(std::span<std::uint8_t> request, std::uint8_t pathId,
                                 std::uint64_t imageOffset, std::span<const std::uint8_t> piece) {
  srb::writeHeader(request, kIntelFwSignature, kIntelFwTimeout, kIntelFwControlCode);
  intel::writeDriveAddress(request, pathId);
  fw::writeRequestBlock(request, kRequestBlockOffset, fw::kFunctionDownload,
                        static_cast<std::uint32_t>(kDataRecordOffset));
  fw::writeDownloadV2(request, kDataRecordOffset, imageOffset, piece);
}

// The slot-information request: the request block's GET_INFO function and a
// version-2 info record with room for every NVMe slot.
inline constexpr std::size_t kGetInfoRequestSize =
    kDataRecordOffset + fw::kInfoV2SlotsOffset + nvme::kMaxFirmwareSlots * fw::kSlotInfoV2Size;
static_assert(kGetInfoRequestSize == 248);

// request: kGetInfoRequestSize bytes.
inline void writeGetInfoRequest(std::span<std::uint8_t> request, std::uint8_t pathId) {
  srb::writeHeader(request, kIntelFwSignature, kIntelFwTimeout, kIntelFwControlCode);
  intel::writeDriveAddress(request, pathId);
  fw::writeRequestBlock(request, kRequestBlockOffset, fw::kFunctionGetInfo,
                        static_cast<std::uint32_t>(kDataRecordOffset));
  fw::writeInfoV2Request(request, kDataRecordOffset);
}

// request: kActivateRequestSize bytes.
inline void writeActivateRequest(std::span<std::uint8_t> request, std::uint8_t pathId) {
  srb::writeHeader(request, kIntelFwSignature, kIntelFwTimeout, kIntelFwControlCode);
  intel::writeDriveAddress(request, pathId);
  fw::writeRequestBlock(request, kRequestBlockOffset, fw::kFunctionActivate,
                        static_cast<std::uint32_t>(kDataRecordOffset));
  fw::writeActivate(request, kDataRecordOffset, kActivateSlot);
}

}  // namespace zev::irst
