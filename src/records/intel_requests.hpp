// The identification requests of the IRST driver, built and read over byte
// buffers: the CSMI RAID configuration request (CSMI_SAS_RAID_CONFIG_BUFFER)
// and the Intel NVMe pass-through request ("IntelNvm") carrying an Identify
// Controller command. Both begin with SRB_IO_CONTROL (srb_io_control.hpp) and
// travel as IOCTL_SCSI_MINIPORT; the same buffer carries the driver's reply.
// Also the 4-byte drive address that the "IntelNvm" and "IntelFw " requests
// carry right after the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "records/identify_fields.hpp"
#include "records/little_endian.hpp"
#include "records/nvme_command.hpp"
#include "records/srb_io_control.hpp"

namespace zev::intel {

// --- Intel drive address (after SRB_IO_CONTROL in "IntelNvm" and "IntelFw ") ---
//
//   offset  size  field
//       28     1  version of the pass-through record (1)
//       29     1  path id: the low byte of the drive's pathId (-1 travels as 0xFF)
//       30     1  target id (0)
//       31     1  logical unit (0)
inline constexpr std::size_t kAddressVersionOffset = 28;
inline constexpr std::size_t kAddressPathIdOffset = 29;
inline constexpr std::size_t kAddressTargetIdOffset = 30;
inline constexpr std::size_t kAddressLunOffset = 31;
inline constexpr std::size_t kAddressEnd = 32;
inline constexpr std::uint8_t kAddressVersion = 1;
static_assert(kAddressVersionOffset == srb::kHeaderSize);
static_assert(kAddressLunOffset + 1 == kAddressEnd);

// The one-byte path id a request carries for a disk record's pathId.
inline std::uint8_t pathIdByte(std::int64_t pathId) {
  return static_cast<std::uint8_t>(static_cast<std::uint64_t>(pathId) & 0xFFu);
}

// Writes the drive address; target id and logical unit stay 0.
inline void writeDriveAddress(std::span<std::uint8_t> request, std::uint8_t pathId) {
  storeLe8(request, kAddressVersionOffset, kAddressVersion);
  storeLe8(request, kAddressPathIdOffset, pathId);
  storeLe8(request, kAddressTargetIdOffset, 0);
  storeLe8(request, kAddressLunOffset, 0);
}

// --- CSMI_SAS_RAID_CONFIG_BUFFER (CC_CSMI_SAS_GET_RAID_CONFIG) ---
//
//   offset  size  field
//        0    28  IOCTL_HEADER (SRB_IO_CONTROL): "CSMIARY\0", Timeout 30,
//                 ControlCode 11, Length = size - 28
//       28     4  uRaidSetIndex    the RAID set asked for
//       32     4  uCapacity        not read
//       36     4  uStripeSize      not read
//       40     1  bRaidType        not read
//       41     1  bStatus          not read
//       42     1  bInformation     not read
//       43     1  bDriveCount      number of member drives of the set
//       44    20  bReserved        not read
//       64 136*n  Drives[n], each a CSMI_SAS_RAID_DRIVES:
//                   +0   40  bModel, bFirmware, bSerialNumber (not read)
//                   +88   8  bSASAddress; byte 2 (+90) is the member's port
//                   +96  40  rest of the entry (not read)
//
// The driver fills as many member entries as the request has room for and
// always reports the set's true bDriveCount.
inline constexpr std::string_view kCsmiSignature{"CSMIARY\0", 8};  // CSMI_RAID_SIGNATURE
inline constexpr std::uint32_t kCsmiTimeout = 30;
inline constexpr std::uint32_t kCcCsmiSasGetRaidConfig = 11;
inline constexpr std::size_t kRaidSetIndexOffset = 28;
inline constexpr std::size_t kDriveCountOffset = 43;
inline constexpr std::size_t kDriveEntriesOffset = 64;
inline constexpr std::size_t kDriveEntrySize = 136;
inline constexpr std::size_t kEntrySasAddressOffset = 88;
inline constexpr std::size_t kSasAddressPortByte = 2;
inline constexpr std::size_t kEntryPortOffset = kEntrySasAddressOffset + kSasAddressPortByte;
// The first request has room for two members (336 bytes).
inline constexpr std::size_t kCsmiFirstRequestMembers = 2;
static_assert(kRaidSetIndexOffset == srb::kHeaderSize);
static_assert(kDriveCountOffset + 1 + 20 == kDriveEntriesOffset);
static_assert(kEntrySasAddressOffset + 8 + 40 == kDriveEntrySize);
static_assert(kEntryPortOffset == 90);

// Size of a request with room for memberRoom entries.
constexpr std::size_t csmiRaidConfigRequestSize(std::size_t memberRoom) {
  return kDriveEntriesOffset + kDriveEntrySize * memberRoom;
}
static_assert(csmiRaidConfigRequestSize(kCsmiFirstRequestMembers) == 336);

// request: csmiRaidConfigRequestSize(memberRoom) bytes. Writes the request
// for RAID set raidSetIndex with room for memberRoom member entries.
void writeCsmiRaidConfigRequest(std::span<std::uint8_t> request, std::uint32_t raidSetIndex);

// Reads a CSMI RAID configuration reply of whatever room it was sent with.
class CsmiRaidConfigReply {
 public:
  explicit CsmiRaidConfigReply(std::span<const std::uint8_t> reply) : reply_(reply) {}
  std::uint32_t returnCode() const;
  // bDriveCount; 0 when the field lies outside the reply.
  std::uint8_t driveCount() const;
  // The number of member entries that lie wholly inside the reply.
  std::size_t entryRoom() const;
  // Byte 2 of member i's bSASAddress; nullopt when entry i is not wholly
  // inside the reply.
  std::optional<std::uint8_t> memberPort(std::size_t i) const;

 private:
  std::span<const std::uint8_t> reply_;
};

// --- IntelNvmPassThrough ("IntelNvm", NVMe admin command to one drive) ---
//
//   offset  size  field
//        0    28  SRB_IO_CONTROL: "IntelNvm", Timeout 10, ControlCode 0xF0002808,
//                 Length 4232
//       28     4  drive address (version 1, path id, target id 0, LUN 0)
//       32    64  NVMe submission queue entry (nvme_command.hpp):
//                   OPC (32): 06h Identify; NSID (36): 0
//                   CDW10 (72): CNS 1, Identify Controller
//       96     1  command-set flag (0: admin command)
//       97    19  reserved
//      116     4  data buffer offset (164)
//      120     4  data buffer length (4096)
//      124    40  reserved (the completion area; not read back)
//      164  4096  data buffer: the Identify Controller data on return
inline constexpr std::string_view kIntelNvmSignature = "IntelNvm";
inline constexpr std::uint32_t kIntelNvmTimeout = 10;
inline constexpr std::uint32_t kIntelNvmControlCode = 0xF0002808u;
inline constexpr std::size_t kNvmCommandOffset = 32;
inline constexpr std::size_t kNvmCommandSetOffset = 96;
inline constexpr std::size_t kNvmDataBufferOffsetOffset = 116;
inline constexpr std::size_t kNvmDataBufferLengthOffset = 120;
inline constexpr std::size_t kNvmDataOffset = 164;
inline constexpr std::size_t kIntelNvmRequestSize = kNvmDataOffset + identify::kDataSize;
inline constexpr std::uint8_t kNvmAdminCommandSet = 0;
static_assert(kNvmCommandOffset == kAddressEnd);
static_assert(kNvmCommandOffset + nvme::kCdw10Offset == 72);
static_assert(kNvmCommandOffset + nvme::kCommandSize == kNvmCommandSetOffset);
static_assert(kNvmDataBufferLengthOffset + 4 + 40 == kNvmDataOffset);
static_assert(kIntelNvmRequestSize == 4260);

// request: kIntelNvmRequestSize bytes. Writes an Identify Controller request
// for the drive at pathId.
void writeIntelNvmIdentifyRequest(std::span<std::uint8_t> request, std::uint8_t pathId);

// The Identify Controller data of a reply; empty when the reply is too short.
std::span<const std::uint8_t> intelNvmIdentifyData(std::span<const std::uint8_t> reply);

}  // namespace zev::intel
