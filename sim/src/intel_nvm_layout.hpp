// "IntelNvm", the IRST driver's NVMe pass-through: an NVMe submission entry
// for the drive at the record's address, and the data the command returns.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
//
// After SRB_IO_CONTROL and the drive address (intel_address_layout.hpp):
//   offset  size  field
//       32    64  NVMe submission entry, command dwords 0 to 15
//       96     1  command-set flag (0: admin)
//      116     4  data buffer offset (from the start of the buffer)
//      120     4  data buffer length
//      164        data (where the data buffer offset names it)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "intel_address_layout.hpp"

namespace zevsim {

namespace intel::nvm {
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
}  // namespace intel::nvm

}  // namespace zevsim
