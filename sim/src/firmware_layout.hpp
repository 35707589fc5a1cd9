// The storport miniport firmware interface: FIRMWARE_REQUEST_BLOCK and the
// STORAGE_FIRMWARE_* records of its GET_INFO, DOWNLOAD and ACTIVATE
// functions, which the inbox NVMe driver carries under the "FIRMWARE"
// signature and the IRST driver inside its "IntelFw " requests.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
//
// FIRMWARE_REQUEST_BLOCK (after SRB_IO_CONTROL):
//   offset  size  field
//        0     4  Version (1)
//        4     4  Size (24)
//        8     4  Function
//       12     4  Flags
//       16     4  DataBufferOffset (from the start of SRB_IO_CONTROL)
//       20     4  DataBufferLength
//
// STORAGE_FIRMWARE_INFO, version 1:
//        0     4  Version (1)
//        4     4  Size (sizeof, 32 with its one declared slot)
//        8     1  UpgradeSupport
//        9     1  SlotCount
//       10     1  ActiveSlot
//       11     1  PendingActivateSlot (0xFF: none)
//       12     4  Reserved
//       16    16  Slot[0], one STORAGE_FIRMWARE_SLOT_INFO per slot
//
// STORAGE_FIRMWARE_SLOT_INFO:
//        0     1  SlotNumber
//        1     1  ReadOnly
//        2     6  Reserved
//        8     8  Revision
//
// STORAGE_FIRMWARE_DOWNLOAD (version 1) / STORAGE_FIRMWARE_DOWNLOAD_V2:
//        0     4  Version (1 / 2)
//        4     4  Size
//        8     8  Offset
//       16     8  BufferSize
//       24        ImageBuffer (version 1)
//       24     1  Slot (V2)
//       25     3  Reserved (V2)
//       28     4  ImageSize (V2)
//       32        ImageBuffer (V2)
//
// STORAGE_FIRMWARE_ACTIVATE:
//        0     4  Version (1)
//        4     4  Size (12)
//        8     1  SlotToActivate
//        9     3  Reserved0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zevsim {

namespace firmware {

inline constexpr std::string_view kSignature{"FIRMWARE", 8};
inline constexpr std::uint32_t kIoctlScsiMiniportFirmware = 0x001B0780;

namespace request_block {
inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kSize = 4;
inline constexpr std::size_t kFunction = 8;
inline constexpr std::size_t kFlags = 12;
inline constexpr std::size_t kDataBufferOffset = 16;
inline constexpr std::size_t kDataBufferLength = 20;
inline constexpr std::size_t kRecordSize = 24;
static_assert(kDataBufferLength + 4 == kRecordSize);
inline constexpr std::uint32_t kStructureVersion = 1;
}  // namespace request_block

inline constexpr std::uint32_t kRequestFlagController = 0x1;

inline constexpr std::uint32_t kFunctionGetInfo = 1;
inline constexpr std::uint32_t kFunctionDownload = 2;
inline constexpr std::uint32_t kFunctionActivate = 3;

inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusInvalidParameter = 3;
inline constexpr std::uint32_t kStatusInvalidSlot = 6;
inline constexpr std::uint32_t kStatusInvalidImage = 7;
inline constexpr std::uint32_t kStatusPowerCycleRequired = 0x20;

namespace info {
inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kSize = 4;
inline constexpr std::size_t kUpgradeSupport = 8;
inline constexpr std::size_t kSlotCount = 9;
inline constexpr std::size_t kActiveSlot = 10;
inline constexpr std::size_t kPendingActivateSlot = 11;
inline constexpr std::size_t kSlots = 16;
inline constexpr std::uint32_t kStructureVersion = 1;
inline constexpr std::uint8_t kInvalidSlot = 0xFF;
}  // namespace info

namespace slot_info {
inline constexpr std::size_t kSlotNumber = 0;
inline constexpr std::size_t kReadOnly = 1;
inline constexpr std::size_t kRevision = 8;
inline constexpr std::size_t kRevisionSize = 8;
inline constexpr std::size_t kRecordSize = 16;
static_assert(kRevision + kRevisionSize == kRecordSize);
}  // namespace slot_info

// sizeof(STORAGE_FIRMWARE_INFO): the fixed part and its one declared slot.
inline constexpr std::uint32_t kInfoSizeof = info::kSlots + slot_info::kRecordSize;
static_assert(kInfoSizeof == 32);

// STORAGE_FIRMWARE_INFO_V2: the version-1 head, then
//       12     1  FirmwareShared
//       13     3  Reserved
//       16     4  ImagePayloadAlignment
//       20     4  ImagePayloadMaxSize
//       24    24  Slot[0], one STORAGE_FIRMWARE_SLOT_INFO_V2 per slot:
//                   +0 SlotNumber, +1 ReadOnly, +2 6 reserved, +8 Revision[16]
namespace info_v2 {
inline constexpr std::size_t kFirmwareShared = 12;
inline constexpr std::size_t kImagePayloadAlignment = 16;
inline constexpr std::size_t kImagePayloadMaxSize = 20;
inline constexpr std::size_t kSlots = 24;
inline constexpr std::uint32_t kStructureVersion = 2;
inline constexpr std::size_t kSlotRecordSize = 24;
inline constexpr std::size_t kSlotRevisionSize = 16;
inline constexpr std::uint32_t kSizeof = kSlots + kSlotRecordSize;
static_assert(kSizeof == 48);
static_assert(slot_info::kRevision + kSlotRevisionSize == kSlotRecordSize);
}  // namespace info_v2

namespace download {
inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kSize = 4;
inline constexpr std::size_t kOffset = 8;
inline constexpr std::size_t kBufferSize = 16;
inline constexpr std::size_t kImageBufferV1 = 24;
inline constexpr std::size_t kSlotV2 = 24;
inline constexpr std::size_t kImageSizeV2 = 28;
inline constexpr std::size_t kImageBufferV2 = 32;
inline constexpr std::uint32_t kVersion1 = 1;
inline constexpr std::uint32_t kVersion2 = 2;
// sizeof of each record with its one declared image byte, padded to 8.
inline constexpr std::uint32_t kSizeofV1 = 32;
inline constexpr std::uint32_t kSizeofV2 = 40;
static_assert(kBufferSize + 8 == kImageBufferV1);
static_assert(kImageSizeV2 + 4 == kImageBufferV2);
}  // namespace download

namespace activate {
inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kSize = 4;
inline constexpr std::size_t kSlotToActivate = 8;
inline constexpr std::size_t kRecordSize = 12;
inline constexpr std::uint32_t kStructureVersion = 1;
}  // namespace activate

}  // namespace firmware

}  // namespace zevsim
