// SRB_IO_CONTROL, the header of every IOCTL_SCSI_MINIPORT request: the port
// driver checks it, and each miniport driver reads its signature, control code
// and Length and answers in its ReturnCode.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
//
//   offset  size  field
//        0     4  HeaderLength (28)
//        4     8  Signature (no terminator required)
//       12     4  Timeout
//       16     4  ControlCode
//       20     4  ReturnCode
//       24     4  Length (bytes after the header)
#pragma once

#include <cstddef>

namespace zevsim {

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

}  // namespace zevsim
