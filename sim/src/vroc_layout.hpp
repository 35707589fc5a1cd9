// The VROC driver's "NvmeRAID" requests on its SCSI port: the RAID volume
// count and information, the member and non-RAID lists with their
// VrocDiskEntry records, the non-RAID count, and the NVMe pass-through.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
//
// Requests after SRB_IO_CONTROL:
//   RAID volume count       0xE0002014  28: count (u32)
//   RAID volume information 0xE0002018  28: volume number; 128: member count
//   RAID member list        0xE000201C  28: volume number; 32: list size;
//                                       36: entries
//   non-RAID drive count    0xE0002028  28: count (i32)
//   non-RAID drive list     0xE000202C  28: list size; 32: entries
//
// VrocDiskEntry (108 bytes):
//   offset  size  field
//        0     4  disk id
//        4    40  model number
//       44     8  (zero)
//       52    48  serial number (20 SN bytes, then zeros)
//      100     4  port / bus number
//      104     4  (zero)
//
// VrocNvmePassThrough (0xE0002000; ReturnCode carries the disk id on input):
//       28    24  six vendor-specific dwords
//       52    64  NVMe command dwords 0 to 15
//      116    16  completion entry dwords 0 to 3 (CplEntry)
//      132     4  direction (0 none, 1 host to drive, 2 drive to host)
//      136     4  queue id (0: admin)
//      140     4  data length
//      144     4  metadata length
//      148     4  return buffer length
//      152        data
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zevsim {

namespace vroc {

inline constexpr std::string_view kSignature{"NvmeRAID", 8};
inline constexpr std::uint32_t kPassThrough = 0xE0002000;
inline constexpr std::uint32_t kRaidVolumeCount = 0xE0002014;
inline constexpr std::uint32_t kRaidVolumeInfo = 0xE0002018;
inline constexpr std::uint32_t kRaidMemberList = 0xE000201C;
inline constexpr std::uint32_t kNonRaidCount = 0xE0002028;
inline constexpr std::uint32_t kNonRaidList = 0xE000202C;

// NVME_IOCTL_* ReturnCodes of the driver.
inline constexpr std::uint32_t kIoctlSuccess = 0;
inline constexpr std::uint32_t kIoctlInsufficientInBuffer = 3;
inline constexpr std::uint32_t kIoctlUnsupportedNvmCmd = 6;
inline constexpr std::uint32_t kIoctlInvalidDirectionSpecified = 11;
inline constexpr std::uint32_t kIoctlInvalidMetaBufferLength = 12;
inline constexpr std::uint32_t kIoctlInvalidPathTargetId = 14;

inline constexpr std::size_t kCount = 28;
inline constexpr std::size_t kVolumeNumber = 28;
inline constexpr std::size_t kVolumeInfoMemberCount = 128;
inline constexpr std::size_t kVolumeInfoSize = 132;
inline constexpr std::size_t kMemberListBytes = 32;
inline constexpr std::size_t kMemberListEntries = 36;
inline constexpr std::size_t kNonRaidListBytes = 28;
inline constexpr std::size_t kNonRaidListEntries = 32;

namespace entry {
inline constexpr std::size_t kDiskId = 0;
inline constexpr std::size_t kModel = 4;
inline constexpr std::size_t kModelSize = 40;
inline constexpr std::size_t kSerial = 52;
inline constexpr std::size_t kSerialSize = 48;
inline constexpr std::size_t kPort = 100;
inline constexpr std::size_t kRecordSize = 108;
static_assert(kSerial + kSerialSize == kPort);
}  // namespace entry

namespace pass_through {
inline constexpr std::size_t kCommand = 52;
inline constexpr std::size_t kCompletion = 116;
inline constexpr std::size_t kCompletionDword3 = 128;
inline constexpr std::size_t kDirection = 132;
inline constexpr std::size_t kQueueId = 136;
inline constexpr std::size_t kDataLength = 140;
inline constexpr std::size_t kMetadataLength = 144;
inline constexpr std::size_t kReturnBufferLength = 148;
inline constexpr std::size_t kData = 152;
static_assert(kCompletion + 12 == kCompletionDword3);
static_assert(kReturnBufferLength + 4 == kData);
inline constexpr std::uint32_t kDirectionHostToDevice = 1;
inline constexpr std::uint32_t kDirectionDeviceToHost = 2;
// The return buffer lengths and data lengths of the requests the driver
// carries: Identify Controller (the head, 4096 bytes of data and 4 spare, with
// a data length field of 0), the Firmware Slot Information log (the head and
// its 512 bytes), and Firmware Image Download and Firmware Commit (the head
// and one byte back).
inline constexpr std::uint32_t kIdentifyReturnLength = 4252;
inline constexpr std::uint32_t kIdentifyDataLength = 0;
inline constexpr std::uint32_t kSlotLogReturnLength = 664;
inline constexpr std::uint32_t kSlotLogDataLength = 512;
inline constexpr std::uint32_t kUpdateReturnLength = 153;
static_assert(kData + 4096 + 4 == kIdentifyReturnLength);
static_assert(kData + kSlotLogDataLength == kSlotLogReturnLength);
static_assert(kData + 1 == kUpdateReturnLength);
}  // namespace pass_through

}  // namespace vroc

}  // namespace zevsim
