// The drive address that both Intel miniport records of the IRST driver
// ("IntelNvm", intel_nvm_layout.hpp, and "IntelFw ", intel_fw_layout.hpp)
// carry right after SRB_IO_CONTROL, and the ReturnCodes the driver answers
// them with.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
//
//   offset  size  field
//       28     1  record version (1)
//       29     1  path id
//       30     1  target id
//       31     1  logical unit
#pragma once

#include <cstddef>
#include <cstdint>

namespace zevsim {

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

}  // namespace intel

}  // namespace zevsim
