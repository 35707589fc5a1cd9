// NVMe as the simulated drive speaks it: the admin commands it carries out,
// the completion status values, the Identify Controller data structure, the
// Firmware Slot Information log, and where a firmware image keeps its
// revision.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
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
#pragma once

#include <cstddef>
#include <cstdint>

namespace zevsim {

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
