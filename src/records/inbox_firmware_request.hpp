// The firmware request of the inbox NVMe driver: IOCTL_SCSI_MINIPORT with
// signature "FIRMWARE" and IOCTL_SCSI_MINIPORT_FIRMWARE, the storport
// firmware records (firmware_records.hpp) right after the header.
//
//   offset  size  field
//        0    28  SRB_IO_CONTROL: "FIRMWARE", Timeout 30, ControlCode
//                 IOCTL_SCSI_MINIPORT_FIRMWARE, ReturnCode 0 (the driver's
//                 FIRMWARE_STATUS_* on return), Length = size - 28
//       28    24  FIRMWARE_REQUEST_BLOCK: Version 1, Size 24, Function 1, 2 or
//                 3, Flags 1 (controller), DataBufferOffset 52,
//                 DataBufferLength = size - 52
//       52     n  STORAGE_FIRMWARE_INFO room (GET_INFO),
//                 STORAGE_FIRMWARE_DOWNLOAD (Version 1, Size 24, Offset,
//                 BufferSize, the piece from 76) or STORAGE_FIRMWARE_ACTIVATE
//
// A download request is piece + 76 bytes long; the slot-information and
// activate requests use the whole buffer of the longest piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "records/firmware_records.hpp"
#include "records/srb_io_control.hpp"

namespace zev::inboxfw {

inline constexpr std::string_view kSignature = "FIRMWARE";
inline constexpr std::uint32_t kTimeoutSeconds = 30;
inline constexpr std::size_t kRequestBlockOffset = srb::kHeaderSize;
inline constexpr std::uint32_t kDataOffset =
    static_cast<std::uint32_t>(kRequestBlockOffset + fw::kRequestBlockSize);
// Header, request block and the download record's fixed part before the image.
inline constexpr std::uint32_t kRequestOverhead =
    kDataOffset + static_cast<std::uint32_t>(fw::kDownloadImageOffset);
static_assert(kRequestBlockOffset == 28);
static_assert(kDataOffset == 52);
static_assert(kRequestOverhead == 76);

// Writes the header and the request block of a request of function into a
// zero-filled request of exactly its size as sent; miniportFirmware is the
// IOCTL_SCSI_MINIPORT_FIRMWARE control code.
inline void writeRequest(std::span<std::uint8_t> request, std::uint32_t function,
                         std::uint32_t miniportFirmware) {
  srb::writeHeader(request, kSignature, kTimeoutSeconds, miniportFirmware);
  fw::writeRequestBlock(request, kRequestBlockOffset, function, kDataOffset);
}

}  // namespace zev::inboxfw
