// Little-endian access to the bytes of the records the simulated drivers
// decode and build, and the bounds test every reader of a caller's field
// goes through.
//
// The layouts themselves have one header per record family (srb_layout.hpp,
// storage_query_layout.hpp, firmware_layout.hpp, csmi_layout.hpp, the
// intel_*_layout.hpp headers, vroc_layout.hpp, nvme_layout.hpp), the Windows
// values one more (windows_values.hpp). Each gives named offsets over byte
// buffers; nothing is overlaid as a struct. None includes anything of the
// package: a layout fault on either side must show as a failed test, never
// cancel out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zevsim {

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

}  // namespace zevsim
