// The VROC driver's "NvmeRAID" miniport requests (IOCTL_SCSI_MINIPORT on the
// SCSI port device "\\.\ScsiN:"): the RAID volume count, the volume
// information, the member list, the non-RAID drive count and list, the
// VrocDiskEntry that both lists hold, and the NVMe pass-through record
// (VrocNvmePassThrough) in its three uses: Identify Controller for the scan,
// Firmware Image Download and Firmware Commit for the update.
//
// Every request starts with the 28-byte SRB_IO_CONTROL (srb_io_control.hpp):
// signature "NvmeRAID", Timeout 40 for the scan and 30 for the update, Length
// the buffer size less 28.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/identify_fields.hpp"
#include "records/nvme_command.hpp"
#include "records/srb_io_control.hpp"

namespace zev::vroc {

inline constexpr std::string_view kSignature = "NvmeRAID";
inline constexpr std::uint32_t kScanTimeout = 40;
inline constexpr std::uint32_t kUpdateTimeout = 30;

inline constexpr std::uint32_t kPassThroughCode = 0xE0002000u;
inline constexpr std::uint32_t kRaidVolumeCountCode = 0xE0002014u;
inline constexpr std::uint32_t kRaidVolumeInfoCode = 0xE0002018u;
inline constexpr std::uint32_t kRaidMemberListCode = 0xE000201Cu;
inline constexpr std::uint32_t kNonRaidCountCode = 0xE0002028u;
inline constexpr std::uint32_t kNonRaidListCode = 0xE000202Cu;

// The SCSI ports probed for the driver: \\.\Scsi0: to \\.\Scsi15:.
inline constexpr std::int32_t kScsiPortCount = 16;
// "\\.\Scsi" + port in decimal + ":".
std::wstring scsiPortPath(std::int32_t port);

// --- Count requests (RAID volume count, non-RAID drive count), 32 bytes ---
//   offset  size  field
//        0    28  SRB_IO_CONTROL (Length 4)
//       28     4  count: 0 sent; on return the number of RAID volumes
//                 (unsigned, non-zero: the port has a volume) or of non-RAID
//                 drives (signed)
inline constexpr std::size_t kCountOffset = 28;
inline constexpr std::size_t kCountRequestSize = 32;
static_assert(kCountOffset + 4 == kCountRequestSize);

// controlCode: kRaidVolumeCountCode or kNonRaidCountCode.
void buildCountRequest(std::span<std::uint8_t> request, std::uint32_t controlCode);
std::uint32_t readRaidVolumeCount(std::span<const std::uint8_t> reply);
std::int32_t readNonRaidCount(std::span<const std::uint8_t> reply);

// --- RAID volume information, 132 bytes ---
//   offset  size  field
//        0    28  SRB_IO_CONTROL (Length 104)
//       28     4  volume number: 1
//       32    96  volume information, zero sent
//      128     4  M, the volume's member count (within the information)
inline constexpr std::size_t kVolumeInfoVolumeOffset = 28;
inline constexpr std::size_t kVolumeInfoMemberCountOffset = 128;
inline constexpr std::size_t kVolumeInfoRequestSize = 132;
inline constexpr std::uint32_t kVolumeNumber = 1;
static_assert(kVolumeInfoMemberCountOffset + 4 == kVolumeInfoRequestSize);

void buildVolumeInfoRequest(std::span<std::uint8_t> request);
std::uint32_t readVolumeMemberCount(std::span<const std::uint8_t> reply);

// --- VrocDiskEntry, one drive in either list, 108 bytes ---
//   offset  size  field
//        0     4  disk id (the driver's name for the drive; vrocDiskId)
//        4    40  model number text
//       44     8  (not read)
//       52    48  serial number text, ending at its first zero byte
//      100     4  path id (zero-extended into pathId)
//      104     4  (not read)
inline constexpr std::size_t kEntryDiskIdOffset = 0;
inline constexpr std::size_t kEntryModelOffset = 4;
inline constexpr std::size_t kEntryModelSize = 40;
inline constexpr std::size_t kEntrySerialOffset = 52;
inline constexpr std::size_t kEntrySerialSize = 48;
inline constexpr std::size_t kEntryPathIdOffset = 100;
inline constexpr std::size_t kEntrySize = 108;
static_assert(kEntrySerialOffset + kEntrySerialSize == kEntryPathIdOffset);
static_assert(kEntryPathIdOffset + 4 + 4 == kEntrySize);

struct VrocDiskEntry {
  std::uint32_t diskId = 0;
  std::wstring modelNumber;  // all 40 bytes, one character per byte
  std::string serialText;    // up to the first zero byte, at most 48 bytes
  std::uint32_t pathId = 0;
  // The entry's MN bytes and its first 20 serial bytes (SN's width) as the
  // driver wrote them.
  std::string modelBytes;
  std::string serialBytes;
};

// Entry index of a list whose entries start at entriesOffset; nullopt when the
// entry does not lie wholly inside list.
std::optional<VrocDiskEntry> readDiskEntry(std::span<const std::uint8_t> list,
                                           std::size_t entriesOffset, std::uint64_t index);

// --- RAID member list, M x 108 + 40 bytes ---
//   offset  size     field
//        0    28     SRB_IO_CONTROL (Length M x 108 + 12)
//       28     4     volume number: 1
//       32     4     bytes of entries: M x 108
//       36     M x 108  VrocDiskEntry, one per member
//   then   4     zero
inline constexpr std::size_t kMemberListVolumeOffset = 28;
inline constexpr std::size_t kMemberListBytesOffset = 32;
inline constexpr std::size_t kMemberListEntriesOffset = 36;
inline constexpr std::size_t kMemberListFixedSize = 40;

// --- Non-RAID drive list, P x 108 + 36 bytes ---
//   offset  size     field
//        0    28     SRB_IO_CONTROL (Length P x 108 + 8)
//       28     4     bytes of entries: P x 108
//       32     P x 108  VrocDiskEntry, one per drive
//   then   4     zero
inline constexpr std::size_t kNonRaidListBytesOffset = 28;
inline constexpr std::size_t kNonRaidListEntriesOffset = 32;
inline constexpr std::size_t kNonRaidListFixedSize = 36;

// The list request sizes, computed in 64 bits from the driver's count; nullopt
// when the request's Length (size - 28) would not fit its 32-bit field.
std::optional<std::size_t> memberListRequestSize(std::uint32_t memberCount);
std::optional<std::size_t> nonRaidListRequestSize(std::uint32_t driveCount);

// request: exactly memberListRequestSize(memberCount) / nonRaidListRequestSize
// (driveCount) bytes.
void buildMemberListRequest(std::span<std::uint8_t> request, std::uint32_t memberCount);
void buildNonRaidListRequest(std::span<std::uint8_t> request, std::uint32_t driveCount);

// --- VrocNvmePassThrough ---
//   offset  size  field
//        0    28  SRB_IO_CONTROL; ReturnCode carries the target's disk id on
//                 input and the driver's status on output
//       28    24  six vendor-specific dwords, 0
//       52    64  NVMe submission queue entry (nvme_command.hpp)
//      116    16  completion entry dwords 0 to 3 (CplEntry)
//      132     4  direction: 1 host to drive, 2 drive to host
//      136     4  queue id: 0 (admin queue)
//      140     4  data length
//      144     4  metadata length: 0
//      148     4  return buffer length
//      152     -  data
inline constexpr std::size_t kPtVendorOffset = 28;
inline constexpr std::size_t kPtCommandOffset = 52;
inline constexpr std::size_t kPtCompletionOffset = 116;
inline constexpr std::size_t kPtDirectionOffset = 132;
inline constexpr std::size_t kPtQueueIdOffset = 136;
inline constexpr std::size_t kPtDataLengthOffset = 140;
inline constexpr std::size_t kPtMetadataLengthOffset = 144;
inline constexpr std::size_t kPtReturnBufferLengthOffset = 148;
inline constexpr std::size_t kPtDataOffset = 152;
static_assert(kPtVendorOffset + 6 * 4 == kPtCommandOffset);
static_assert(kPtCommandOffset + 16 * 4 == kPtCompletionOffset);
static_assert(kPtCompletionOffset + 4 * 4 == kPtDirectionOffset);
static_assert(kPtReturnBufferLengthOffset + 4 == kPtDataOffset);

// CplEntry[n] lies at 116 + 4n.
inline constexpr std::size_t completionDwordOffset(std::size_t n) {
  return kPtCompletionOffset + 4 * n;
}
static_assert(kPtCommandOffset + nvme::kCdw10Offset == 92);
static_assert(kPtCommandOffset + nvme::kCdw11Offset == 96);
static_assert(completionDwordOffset(3) == 128);

inline constexpr std::uint32_t kDirectionHostToDrive = 1;
inline constexpr std::uint32_t kDirectionDriveToHost = 2;

// Firmware Commit dword 10: slot 2 in bits 2:0, commit action 1 (replace the
// slot's image, activate at the next controller reset) in bits 5:3.
inline constexpr std::uint32_t kCommitSlot = 2;
inline constexpr std::uint32_t kCommitActionReplaceActivateAtReset = 1;
inline constexpr std::uint32_t kCommitDword10 =
    kCommitSlot | (kCommitActionReplaceActivateAtReset << 3);
static_assert(kCommitDword10 == 0x0000000Au);

// Identify Controller through the pass-through: 4096 bytes of data, 4 spare.
inline constexpr std::size_t kIdentifyRequestSize = 4252;
inline constexpr std::uint8_t kIdentifyFillByte = 0x55;
static_assert(kPtDataOffset + identify::kDataSize + 4 == kIdentifyRequestSize);

// Firmware Image Download: the piece at 152, 8 spare bytes after it; sent with
// the whole request as input and 153 bytes (the head and one byte) as output.
inline constexpr std::size_t kDownloadSpareSize = 8;
inline constexpr std::size_t kDownloadFixedSize = kPtDataOffset + kDownloadSpareSize;
inline constexpr std::uint32_t kPassThroughOutputSize = 153;
static_assert(kDownloadFixedSize == 160);

// Firmware Commit: no data; 153 bytes in and out.
inline constexpr std::size_t kCommitRequestSize = 153;
static_assert(kCommitRequestSize == kPtDataOffset + 1);

// Completion dword 3: status field in bits 31:17, phase tag in bit 16. Any
// status bit set is a command error.
inline constexpr std::uint32_t kCompletionStatusShift = 17;
inline bool completionFailed(std::uint32_t completionDword3) {
  return (completionDword3 >> kCompletionStatusShift) != 0;
}

// request: kIdentifyRequestSize bytes. Writes the Identify Controller command
// for the drive diskId and fills the data area with 0x55, so that a drive that
// returns nothing leaves text of that character.
void buildIdentifyRequest(std::span<std::uint8_t> request, std::uint32_t diskId);
// The 4096-byte Identify data area of a kIdentifyRequestSize reply.
std::span<const std::uint8_t> identifyData(std::span<const std::uint8_t> reply);

// request: piece.size() + 160 bytes. Writes a Firmware Image Download of
// piece, which lies at byteOffset in the image (dword-aligned), for the drive
// diskId. Command dword 10 is the piece's dword count less one, dword 11 its
// offset in dwords.
void buildDownloadRequest(std::span<std::uint8_t> request, std::uint32_t diskId,
                          std::uint32_t byteOffset, std::span<const std::uint8_t> piece);
// request: kCommitRequestSize bytes. Writes a Firmware Commit of slot 2,
// activated at the next reset, for the drive diskId.
void buildCommitRequest(std::span<std::uint8_t> request, std::uint32_t diskId);

// Get Log Page of the Firmware Slot Information log (log identifier 03h,
// 512 bytes) through the pass-through: data from the drive, 664 bytes in and
// out. The log: byte 0 AFI (bits 2:0 the active slot, bits 6:4 the slot
// active after the next reset, 0 for none), then FRS1 to FRS7 at 8, 16, ...
// 56, 8 bytes each; asked for every namespace (NSID FFFFFFFFh).
inline constexpr std::size_t kSlotLogSize = 512;
// Log identifier 03h in bits 7:0, the number of dwords less one (127) in 31:16.
inline constexpr std::uint32_t kSlotLogDword10 = 0x03u | ((kSlotLogSize / 4 - 1) << 16);
inline constexpr std::size_t kSlotLogRequestSize = kPtDataOffset + kSlotLogSize;
inline constexpr std::size_t kSlotLogRevisionOffset = 8;
inline constexpr std::size_t kSlotLogRevisionSize = 8;
static_assert(kSlotLogDword10 == 0x007F0003u);
static_assert(kSlotLogRequestSize == 664);
static_assert(kSlotLogRevisionOffset + nvme::kMaxFirmwareSlots * kSlotLogRevisionSize == 64);

struct FirmwareSlotLog {
  std::uint8_t activeSlot = 0;
  std::uint8_t nextResetSlot = 0;  // 0: none
  // FRS1 to FRS7.
  std::vector<std::vector<std::uint8_t>> revisions;
};

// request: kSlotLogRequestSize bytes. Writes the Get Log Page for the drive
// diskId.
void buildSlotLogRequest(std::span<std::uint8_t> request, std::uint32_t diskId);
// The log of a kSlotLogRequestSize reply; nullopt when the reply is shorter.
std::optional<FirmwareSlotLog> readSlotLog(std::span<const std::uint8_t> reply);

// reply: a pass-through record (at least its 152-byte head).
std::uint32_t readCompletionDword3(std::span<const std::uint8_t> reply);

}  // namespace zev::vroc
