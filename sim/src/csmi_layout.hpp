// CSMI_SAS_RAID_CONFIG_BUFFER, the IRST driver's "CSMIARY" RAID
// configuration request and reply: the configuration of one RAID set and one
// CSMI_SAS_RAID_DRIVES entry per member.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
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
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zevsim {

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

}  // namespace zevsim
