// SRB_IO_CONTROL, the 28-byte header that begins every miniport request
// (IOCTL_SCSI_MINIPORT), written once for all request records.
//
//   offset  size  field
//        0     4  HeaderLength (28)
//        4     8  Signature (no terminator)
//       12     4  Timeout (seconds)
//       16     4  ControlCode
//       20     4  ReturnCode (0 on input, or a value the request defines)
//       24     4  Length (bytes after the header)
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "records/little_endian.hpp"

namespace zev::srb {

inline constexpr std::size_t kHeaderLengthOffset = 0;
inline constexpr std::size_t kSignatureOffset = 4;
inline constexpr std::size_t kSignatureSize = 8;
inline constexpr std::size_t kTimeoutOffset = 12;
inline constexpr std::size_t kControlCodeOffset = 16;
inline constexpr std::size_t kReturnCodeOffset = 20;
inline constexpr std::size_t kLengthOffset = 24;
inline constexpr std::size_t kHeaderSize = 28;
static_assert(kLengthOffset + 4 == kHeaderSize);

// Writes the header at the start of request; Length is request.size() - 28.
// signature: up to 8 characters; shorter ones are zero-padded.
inline void writeHeader(std::span<std::uint8_t> request, std::string_view signature,
                        std::uint32_t timeout, std::uint32_t controlCode,
                        std::uint32_t returnCode = 0) {
  storeLe32(request, kHeaderLengthOffset, static_cast<std::uint32_t>(kHeaderSize));
  std::fill_n(request.begin() + kSignatureOffset, kSignatureSize, std::uint8_t{0});
  std::copy_n(signature.begin(), std::min(signature.size(), kSignatureSize),
              request.begin() + kSignatureOffset);
  storeLe32(request, kTimeoutOffset, timeout);
  storeLe32(request, kControlCodeOffset, controlCode);
  storeLe32(request, kReturnCodeOffset, returnCode);
  storeLe32(request, kLengthOffset, static_cast<std::uint32_t>(request.size() - kHeaderSize));
}

inline std::uint32_t readReturnCode(std::span<const std::uint8_t> reply) {
  return loadLe32(reply, kReturnCodeOffset);
}

}  // namespace zev::srb
