// The simulator's own definitions of every published record layout that its
// drivers decode or build: the Windows storage records (SRB_IO_CONTROL,
// STORAGE_PROPERTY_QUERY and the protocol-specific records,
// STORAGE_DEVICE_NUMBER, FIRMWARE_REQUEST_BLOCK and the STORAGE_FIRMWARE_*
// records), CSMI RAID configuration, the Intel miniport records (IntelNvm,
// IntelFw, NvmeRAID) and the NVMe Identify Controller data structure.
//
// Records are named offsets over byte buffers, read and written with the
// little-endian helpers below; nothing is overlaid as a struct. This file
// includes nothing of the package: a layout fault on either side must show as
// a failed test, never cancel out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zevsim {

// --- Little-endian access --------------------------------------------------

namespace le {

inline std::uint16_t load16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}
inline std::uint32_t load32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}
inline std::uint64_t load64(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint64_t>(load32(bytes, offset)) |
         (static_cast<std::uint64_t>(load32(bytes, offset + 4)) << 32);
}
inline void store16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void store32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}
inline void store64(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value) {
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// True when [offset, offset + width) lies inside a buffer of size bytes;
// computed without overflow for any 64-bit operands.
inline bool inside(std::uint64_t size, std::uint64_t offset, std::uint64_t width) {
  return offset <= size && width <= size - offset;
}

}  // namespace le

// --- Windows values --------------------------------------------------------

namespace win {

inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorIoDevice = 1117;

inline constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x002D1080;
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x002D1400;
inline constexpr std::uint32_t kIoctlScsiMiniport = 0x0004D008;

inline constexpr std::uint32_t kFileDeviceDisk = 7;

// CTL_CODE: the access the caller's handle must hold sits in bits 15:14.
inline constexpr unsigned kControlCodeAccessShift = 14;
inline constexpr std::uint32_t kFileReadAccess = 0x1;
inline constexpr std::uint32_t kFileWriteAccess = 0x2;
inline constexpr std::uint32_t requiredAccess(std::uint32_t controlCode) {
  return (controlCode >> kControlCodeAccessShift) & 0x3;
}
static_assert(requiredAccess(kIoctlScsiMiniport) == (kFileReadAccess | kFileWriteAccess));
static_assert(requiredAccess(kIoctlStorageQueryProperty) == 0);
static_assert(requiredAccess(kIoctlStorageGetDeviceNumber) == 0);

// The access mask of CreateFileW, as the file generic mapping grants it.
inline constexpr std::uint32_t kFileReadData = 0x0001;
inline constexpr std::uint32_t kFileWriteData = 0x0002;
inline constexpr std::uint32_t kFileAppendData = 0x0004;
inline constexpr std::uint32_t kMaximumAllowed = 0x02000000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericRead = 0x80000000;

}  // namespace win

// --- SRB_IO_CONTROL: the header of every IOCTL_SCSI_MINIPORT request --------
//
//   offset  size  field
//        0     4  HeaderLength (28)
//        4     8  Signature (no terminator required)
//       12     4  Timeout
//       16     4  ControlCode
//       20     4  ReturnCode
//       24     4  Length (bytes after the header)

namespace srb {

inline constexpr std::size_t kHeaderLength = 0;
inline constexpr std::size_t kSignature = 4;
inline constexpr std::size_t kSignatureSize = 8;
inline constexpr std::size_t kTimeout = 12;
inline constexpr std::size_t kControlCode = 16;
inline constexpr std::size_t kReturnCode = 20;
inline constexpr std::size_t kLength = 24;
inline constexpr std::size_t kSize = 28;
static_assert(kLength + 4 == kSize);

}  // namespace srb
static_assert(srb::kSignatureSize == 8);

// --- STORAGE_DEVICE_NUMBER (IOCTL_STORAGE_GET_DEVICE_NUMBER output) ----------
//
//   offset  size  field
//        0     4  DeviceType
//        4     4  DeviceNumber
//        8     4  PartitionNumber

namespace device_number {

inline constexpr std::size_t kDeviceType = 0;
inline constexpr std::size_t kDeviceNumber = 4;
inline constexpr std::size_t kPartitionNumber = 8;
inline constexpr std::size_t kSize = 12;
static_assert(kPartitionNumber + 4 == kSize);

}  // namespace device_number

// --- STORAGE_PROPERTY_QUERY with STORAGE_PROTOCOL_SPECIFIC_DATA, and the
// STORAGE_PROTOCOL_DATA_DESCRIPTOR reply -------------------------------------
//
// Query:                               Reply:
//   offset  size  field                  offset  size  field
//        0     4  PropertyId                  0     4  Version (48)
//        4     4  QueryType                   4     4  Size (48)
//        8    40  protocol-specific data      8    40  protocol-specific data
//
// STORAGE_PROTOCOL_SPECIFIC_DATA (offsets within the 40-byte block):
//        0     4  ProtocolType
//        4     4  DataType
//        8     4  ProtocolDataRequestValue
//       12     4  ProtocolDataRequestSubValue
//       16     4  ProtocolDataOffset (from the start of this block)
//       20     4  ProtocolDataLength
//       24     4  FixedProtocolReturnData
//       28    12  ProtocolDataRequestSubValue2..4

namespace property_query {

inline constexpr std::size_t kPropertyId = 0;
inline constexpr std::size_t kQueryType = 4;
inline constexpr std::size_t kAdditionalParameters = 8;
inline constexpr std::size_t kQueryHeaderSize = 8;

inline constexpr std::uint32_t kStorageAdapterProtocolSpecificProperty = 49;
inline constexpr std::uint32_t kPropertyStandardQuery = 0;

}  // namespace property_query

namespace protocol_data {

inline constexpr std::size_t kProtocolType = 0;
inline constexpr std::size_t kDataType = 4;
inline constexpr std::size_t kRequestValue = 8;
inline constexpr std::size_t kRequestSubValue = 12;
inline constexpr std::size_t kProtocolDataOffset = 16;
inline constexpr std::size_t kProtocolDataLength = 20;
inline constexpr std::size_t kFixedProtocolReturnData = 24;
inline constexpr std::size_t kSize = 40;
static_assert(kFixedProtocolReturnData + 4 + 12 == kSize);

inline constexpr std::uint32_t kProtocolTypeNvme = 3;
inline constexpr std::uint32_t kNvmeDataTypeIdentify = 1;
inline constexpr std::uint32_t kIdentifyCnsController = 1;

}  // namespace protocol_data

namespace protocol_descriptor {

inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kSize = 4;
inline constexpr std::size_t kProtocolSpecificData = 8;
inline constexpr std::size_t kRecordSize = 48;
static_assert(kProtocolSpecificData + protocol_data::kSize == kRecordSize);

}  // namespace protocol_descriptor

// --- The storport miniport firmware interface ------------------------------
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

// --- CSMI: CSMI_SAS_RAID_CONFIG_BUFFER ----------------------------------------
//
//   offset  size  field
//        0    28  IOCTL_HEADER (the SRB_IO_CONTROL layout)
//       28     4  uRaidSetIndex
//       32     4  uCapacity
//       36     4  uStripeSize
//       40     1  bRaidType
//       41     1  bStatus
//       42     1  bInformation
//       43     1  bDriveCount
//       44    20  bReserved
//       64   136  Drives[0], one CSMI_SAS_RAID_DRIVES per member
//
// CSMI_SAS_RAID_DRIVES:
//        0    40  bModel
//       40     8  bFirmware
//       48    40  bSerialNumber
//       88     8  bSASAddress (byte 2: the member's port)
//       96     8  bSASLun
//      104     1  bDriveStatus
//      105     1  bDriveUsage
//      106    30  bReserved

namespace csmi {

inline constexpr std::string_view kRaidSignature{"CSMIARY\0", 8};
inline constexpr std::uint32_t kGetRaidConfig = 11;

inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusInvalidParameter = 3;

inline constexpr std::size_t kRaidSetIndex = 28;
inline constexpr std::size_t kCapacity = 32;
inline constexpr std::size_t kStripeSize = 36;
inline constexpr std::size_t kRaidType = 40;
inline constexpr std::size_t kStatus = 41;
inline constexpr std::size_t kInformation = 42;
inline constexpr std::size_t kDriveCount = 43;
inline constexpr std::size_t kDrives = 64;
static_assert(kDriveCount + 1 + 20 == kDrives);

inline constexpr std::uint8_t kRaidTypeOther = 0xFF;
inline constexpr std::uint8_t kRaidSetStatusOk = 0;

namespace drive {
inline constexpr std::size_t kModel = 0;
inline constexpr std::size_t kModelSize = 40;
inline constexpr std::size_t kFirmware = 40;
inline constexpr std::size_t kFirmwareSize = 8;
inline constexpr std::size_t kSerialNumber = 48;
inline constexpr std::size_t kSerialNumberSize = 40;
inline constexpr std::size_t kSasAddress = 88;
inline constexpr std::size_t kSasAddressPortByte = 2;
inline constexpr std::size_t kSasLun = 96;
inline constexpr std::size_t kDriveStatus = 104;
inline constexpr std::size_t kDriveUsage = 105;
inline constexpr std::size_t kRecordSize = 136;
static_assert(kSerialNumber + kSerialNumberSize == kSasAddress);
static_assert(kDriveUsage + 1 + 30 == kRecordSize);
inline constexpr std::uint8_t kDriveStatusOk = 0;
inline constexpr std::uint8_t kDriveUsageMember = 1;
}  // namespace drive

}  // namespace csmi

// --- Intel miniport records ("IntelNvm", "IntelFw ") -------------------------
//
// Both carry a drive address right after SRB_IO_CONTROL:
//   offset  size  field
//       28     1  record version (1)
//       29     1  path id
//       30     1  target id
//       31     1  logical unit
//
// "IntelNvm" NVMe pass-through, after the address:
//       32    64  NVMe submission entry, command dwords 0 to 15
//       96     1  command-set flag (0: admin)
//      116     4  data buffer offset (from the start of the buffer)
//      120     4  data buffer length
//      164        data (where the data buffer offset names it)
//
// "IntelFw " firmware request, after the address:
//       32    24  FIRMWARE_REQUEST_BLOCK (DataBufferOffset from the start of
//                 the buffer)
//       56        the function's data record

namespace intel {

inline constexpr std::size_t kAddressVersion = 28;
inline constexpr std::size_t kPathId = 29;
inline constexpr std::size_t kTargetId = 30;
inline constexpr std::size_t kLun = 31;
inline constexpr std::size_t kAddressEnd = 32;
inline constexpr std::uint8_t kAddressVersion1 = 1;
// ReturnCode of a record the driver cannot carry out (a field outside the
// buffer, a command the pass-through does not carry).
inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusInvalidParameter = 3;

namespace nvm {
inline constexpr std::string_view kSignature{"IntelNvm", 8};
inline constexpr std::uint32_t kControlCode = 0xF0002808;
inline constexpr std::size_t kCommand = 32;
inline constexpr std::size_t kCommandSize = 64;
inline constexpr std::size_t kCommandSetFlag = 96;
inline constexpr std::size_t kDataBufferOffset = 116;
inline constexpr std::size_t kDataBufferLength = 120;
// The record's fixed part ends where the data the package addresses starts.
inline constexpr std::size_t kFixedSize = 164;
static_assert(kCommand + kCommandSize == kCommandSetFlag);
inline constexpr std::uint8_t kAdminCommandSet = 0;
}  // namespace nvm

namespace fw {
inline constexpr std::string_view kSignature{"IntelFw ", 8};
inline constexpr std::uint32_t kControlCode = 0xF0000040;
// The download record's Slot and ImageSize as the driver takes them: the
// controller chooses the slot, and the image size is not announced.
inline constexpr std::uint8_t kDownloadAnySlot = 0xFF;
inline constexpr std::uint32_t kDownloadImageSize = 0;
inline constexpr std::size_t kRequestBlock = 32;
inline constexpr std::size_t kRequestBlockEnd =
    kRequestBlock + firmware::request_block::kRecordSize;
static_assert(kRequestBlockEnd == 56);
}  // namespace fw

}  // namespace intel

// --- VROC driver records ("NvmeRAID") ---------------------------------------
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

// --- NVMe ----------------------------------------------------------------------
//
// Submission entry, as 16 command dwords: dword 0 holds the opcode in bits
// 7:0 and the command identifier in bits 31:16; dwords 10 and 11 carry the
// command-specific fields used here. Completion dword 3 holds the command
// identifier in bits 15:0, the phase tag in bit 16 and the status field in
// bits 31:17.
//
// Identify Controller data structure (4096 bytes), the fields the drive model
// fills:
//   offset  size  field
//        0     2  VID
//        2     2  SSVID
//        4    20  SN
//       24    40  MN
//       64     8  FR
//       77     1  MDTS
//       80     4  VER (major 31:16, minor 15:8, tertiary 7:0)
//      256     2  OACS
//      260     1  FRMW (bit 0 slot 1 read-only, bits 3:1 slot count,
//                 bit 4 activation without reset)
//      319     1  FWUG
//      512     1  SQES
//      513     1  CQES
//      516     4  NN

namespace nvme {

inline constexpr std::uint8_t kOpcodeGetLogPage = 0x02;
inline constexpr std::uint8_t kOpcodeFirmwareCommit = 0x10;
inline constexpr std::uint8_t kOpcodeFirmwareImageDownload = 0x11;
inline constexpr std::uint8_t kOpcodeIdentify = 0x06;
inline constexpr std::uint8_t kCnsController = 1;

inline constexpr std::size_t commandDword(std::size_t n) {
  return 4 * n;
}

// Status field values (SCT in bits 10:8, SC in bits 7:0).
inline constexpr std::uint32_t kStatusSuccess = 0x000;
inline constexpr std::uint32_t kStatusInvalidOpcode = 0x001;
inline constexpr std::uint32_t kStatusInvalidField = 0x002;
inline constexpr std::uint32_t kStatusInvalidNamespace = 0x00B;
inline constexpr std::uint32_t kStatusInvalidLogPage = 0x109;
inline constexpr std::uint32_t kStatusInvalidFirmwareSlot = 0x106;
inline constexpr std::uint32_t kStatusInvalidFirmwareImage = 0x107;
inline constexpr unsigned kCompletionStatusShift = 17;

namespace identify {
inline constexpr std::size_t kVid = 0;
inline constexpr std::size_t kSsvid = 2;
inline constexpr std::size_t kSn = 4;
inline constexpr std::size_t kSnSize = 20;
inline constexpr std::size_t kMn = 24;
inline constexpr std::size_t kMnSize = 40;
inline constexpr std::size_t kFr = 64;
inline constexpr std::size_t kFrSize = 8;
inline constexpr std::size_t kMdts = 77;
inline constexpr std::size_t kVer = 80;
inline constexpr std::size_t kOacs = 256;
inline constexpr std::size_t kFrmw = 260;
inline constexpr std::size_t kFwug = 319;
inline constexpr std::size_t kSqes = 512;
inline constexpr std::size_t kCqes = 513;
inline constexpr std::size_t kNn = 516;
inline constexpr std::size_t kSize = 4096;
static_assert(kSn + kSnSize == kMn && kMn + kMnSize == kFr);
inline constexpr std::uint16_t kOacsFirmwareCommitAndDownload = 0x0004;
inline constexpr std::uint8_t kFrmwSlot1ReadOnly = 0x01;
inline constexpr unsigned kFrmwSlotCountShift = 1;
inline constexpr std::uint8_t kFrmwActivationWithoutReset = 0x10;
}  // namespace identify

// Get Log Page: command dword 1 NSID; dword 10 LID in bits 7:0 and NUMDL
// (dwords less one) in bits 31:16.
//
// Firmware Slot Information log (LID 03h, 512 bytes):
//   offset  size  field
//        0     1  AFI: bits 2:0 active slot, bits 6:4 slot active at the
//                 next reset (0: none)
//        8  8 x 7  FRS1 to FRS7, the revision in each slot (zero when the
//                 slot does not exist)
namespace slot_log {
inline constexpr std::size_t kNsid = 4;  // byte offset of command dword 1
inline constexpr std::uint32_t kNsidAll = 0xFFFFFFFF;
inline constexpr std::uint8_t kLidFirmwareSlot = 0x03;
inline constexpr unsigned kNumdlShift = 16;
inline constexpr std::size_t kFirmwareSlotSize = 512;
inline constexpr std::size_t kAfi = 0;
inline constexpr unsigned kAfiNextResetShift = 4;
inline constexpr std::size_t kFrs = 8;
inline constexpr std::size_t kFrsSize = 8;
inline constexpr std::uint32_t kMaxSlots = 7;
static_assert(kFrs + kFrsSize * kMaxSlots == 64);
}  // namespace slot_log

}  // namespace nvme

// The revision of a firmware image: its bytes 0x1010 to 0x1017.
inline constexpr std::size_t kImageRevisionOffset = 0x1010;
inline constexpr std::size_t kImageRevisionSize = 8;

}  // namespace zevsim
