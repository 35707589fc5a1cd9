// records/: every byte layout of a request the package sends or a reply it
// reads (SRB_IO_CONTROL, the storage query, Identify fields, the NVMe
// commands, the miniport firmware records, CSMI, "IntelNvm", "IntelFw ",
// VROC), each builder beside its layout. Includes only itself and the
// standard library.
//
// One contract for every builder: it writes a request into the caller's span
// of exactly the request's size, which the caller has zero-filled, and writes
// only the fields it names, so every byte it does not name goes out as 0. The
// writers of a record inside a request (the SRB_IO_CONTROL header, the
// firmware records, the NVMe command) write into that same span. A caller
// that builds into a buffer used before zeroes the span first: the driver's
// reply to the request before is still in it. Readers take the reply and read
// inside it only.
//
// Little-endian loads and stores over byte buffers. Every request record the
// package builds and every reply it reads goes through these helpers, so no
// record is ever overlaid on a buffer as a struct and no field needs to be
// aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zev {

inline std::uint8_t loadLe8(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return bytes[offset];
}
inline std::uint16_t loadLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}
inline std::uint32_t loadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}
inline std::uint64_t loadLe64(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint64_t>(loadLe32(bytes, offset)) |
         (static_cast<std::uint64_t>(loadLe32(bytes, offset + 4)) << 32);
}

inline void storeLe8(std::span<std::uint8_t> bytes, std::size_t offset, std::uint8_t value) {
  bytes[offset] = value;
}
inline void storeLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void storeLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}
inline void storeLe64(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value) {
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// Bounds-checked form for replies: false when [offset, offset + width) does
// not lie inside bytes, so a field outside the reply is a failed reply.
inline bool fieldInside(std::span<const std::uint8_t> bytes, std::size_t offset,
                        std::size_t width) {
  return offset <= bytes.size() && width <= bytes.size() - offset;
}

}  // namespace zev
