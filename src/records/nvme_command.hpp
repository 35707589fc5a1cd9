// The NVMe admin commands the package has drives run: their opcodes, the
// Identify CNS value, the firmware slot count, and the 64-byte submission
// queue entry that the Intel ("IntelNvm") and VROC ("NvmeRAID") pass-through
// records embed, with its writer. The inbox storage query names the same
// Identify through its own fields (storage_query_records.hpp).
//
// --- Submission queue entry (the fields the package sets) ---
//
//   offset  size  field
//        0     1  CDW0.OPC   opcode
//        1     1  CDW0.FUSE and PSDT: 0
//        2     2  CDW0.CID   command identifier: 0
//        4     4  NSID
//        8    32  CDW2, CDW3, MPTR, DPTR: 0 (the data travels in the request record)
//       40     4  CDW10
//       44     4  CDW11
//       48    16  CDW12 to CDW15: 0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "records/little_endian.hpp"

namespace zev::nvme {

// Admin command opcodes.
inline constexpr std::uint8_t kOpcodeGetLogPage = 0x02;
inline constexpr std::uint8_t kOpcodeIdentify = 0x06;
inline constexpr std::uint8_t kOpcodeFirmwareCommit = 0x10;
inline constexpr std::uint8_t kOpcodeFirmwareImageDownload = 0x11;

// Identify CDW10.CNS: the Identify Controller data structure.
inline constexpr std::uint32_t kCnsController = 1;

// The NSID that names every namespace: a log of the whole controller.
inline constexpr std::uint32_t kNsidAll = 0xFFFFFFFFu;

// Firmware slots 1 to 7: FRMW bits 3:1 count at most 7, the Firmware Slot
// Information log holds FRS1 to FRS7.
inline constexpr std::size_t kMaxFirmwareSlots = 7;

inline constexpr std::size_t kOpcodeOffset = 0;
inline constexpr std::size_t kNsidOffset = 4;
inline constexpr std::size_t kCdw10Offset = 40;
inline constexpr std::size_t kCdw11Offset = 44;
inline constexpr std::size_t kCommandSize = 64;

// Command dword n lies at 4n; the entry holds dwords 0 to 15.
static_assert(kNsidOffset == 4 * 1 && kCdw10Offset == 4 * 10 && kCdw11Offset == 4 * 11);
static_assert(kCommandSize == 4 * 16);

// The fields of one command; every other byte of the entry stays 0.
struct Command {
  std::uint8_t opcode = 0;
  std::uint32_t nsid = 0;
  std::uint32_t cdw10 = 0;
  std::uint32_t cdw11 = 0;
};

// Writes command into entry, the submission queue entry inside a request.
inline void writeCommand(std::span<std::uint8_t, kCommandSize> entry, const Command& command) {
  storeLe8(entry, kOpcodeOffset, command.opcode);
  storeLe32(entry, kNsidOffset, command.nsid);
  storeLe32(entry, kCdw10Offset, command.cdw10);
  storeLe32(entry, kCdw11Offset, command.cdw11);
}

}  // namespace zev::nvme
