// Byte builders for the simulator's driver tests: requests are written here
// from the published layouts with literal offsets, independently of the
// simulator's own record definitions, so a layout fault on either side fails
// a test.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sample_machine.hpp"
#include "zevsim/machine_config.hpp"

namespace zevsim::test {

using Bytes = std::vector<std::uint8_t>;

inline void put8(Bytes& b, std::size_t at, std::uint8_t v) {
  b.at(at) = v;
}
inline void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  for (std::size_t i = 0; i < 2; ++i)
    b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i)
    b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i)
    b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint32_t get32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(b.at(at + i)) << (8 * i);
  return v;
}
inline std::uint16_t get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::string text(const Bytes& b, std::size_t at, std::size_t n) {
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                     b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// True when bytes [from, to) of b are all zero; to is cut to the end of b.
inline bool allZero(const Bytes& b, std::size_t from, std::size_t to = SIZE_MAX) {
  return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from),
                     b.begin() + static_cast<std::ptrdiff_t>(std::min(to, b.size())),
                     [](std::uint8_t x) { return x == 0; });
}

// One change to a request, for tables of refused requests: value written at
// byte at, width bytes wide (1, 4 or 8), or with width 0 the request cut to
// value bytes.
struct Edit {
  const char* name;
  std::size_t at;
  std::uint64_t value;
  int width = 4;
};

inline Bytes edited(Bytes b, const Edit& e) {
  if (e.width == 0) {
    b.resize(e.value);
  }
  for (int i = 0; i < e.width; ++i) {
    b.at(e.at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(e.value >> (8 * i));
  }
  return b;
}

// Calls send(offset, piece) for image cut into pieces of piece bytes, the
// last one short.
template <typename Send>
void inPieces(const Bytes& image, std::size_t piece, Send&& send) {
  for (std::size_t offset = 0; offset < image.size(); offset += piece) {
    send(offset, std::span(image).subspan(offset, std::min(piece, image.size() - offset)));
  }
}

// IOCTL codes and Win32 errors, spelled out here on purpose.
inline constexpr std::uint32_t kScsiMiniport = 0x0004D008;
inline constexpr std::uint32_t kErrInvalidFunction = 1;
inline constexpr std::uint32_t kErrInvalidParameter = 87;
inline constexpr std::uint32_t kErrInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrIoDevice = 1117;

// A zero-filled request of size bytes with SRB_IO_CONTROL: HeaderLength 28,
// the 8 signature bytes, Timeout 30, ControlCode, ReturnCode, Length size-28.
inline Bytes srbRequest(std::size_t size, std::string_view signature, std::uint32_t controlCode,
                        std::uint32_t returnCode = 0) {
  Bytes b(size, 0);
  put32(b, 0, 28);
  for (std::size_t i = 0; i < 8 && i < signature.size(); ++i) {
    b[4 + i] = static_cast<std::uint8_t>(signature[i]);
  }
  put32(b, 12, 30);
  put32(b, 16, controlCode);
  put32(b, 20, returnCode);
  put32(b, 24, static_cast<std::uint32_t>(size - 28));
  return b;
}

// A drive with a small image, so tests can move whole images: revision bytes
// at 0x1010 lie inside 8 KiB.
inline DriveConfig testDrive(const std::string& id, std::uint32_t imageSize = 0x2000) {
  DriveConfig c = sampleDrive(id);
  c.imageSize = imageSize;
  return c;
}

// An image of size bytes, every byte distinct from its neighbours, with
// revision at 0x1010..0x1017.
inline Bytes testImage(std::size_t size, std::string_view revision = "KTW8LMZB") {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) {
    image[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
  }
  for (std::size_t i = 0; i < 8; ++i) {
    image.at(0x1010 + i) = static_cast<std::uint8_t>(revision[i]);
  }
  return image;
}

// A fault on requests of one kind, set field by field:
// fault(FaultRequest::Download).nth(2).error(1117).
struct FaultOf {
  Fault f;
  FaultOf& nth(std::uint32_t v) { return set(f.nth, v); }
  FaultOf& error(std::uint32_t v) { return set(f.error, v); }
  FaultOf& returnCode(std::uint32_t v) { return set(f.returnCode, v); }
  FaultOf& nvmeStatus(std::uint32_t v) { return set(f.nvmeStatus, v); }
  FaultOf& completion(std::uint32_t v) { return set(f.completion, v); }
  FaultOf& dataBufferOffset(std::uint32_t v) { return set(f.dataBufferOffset, v); }
  operator Fault() const { return f; }  // NOLINT: rows read as faults

 private:
  FaultOf& set(std::optional<std::uint32_t>& field, std::uint32_t v) {
    field = v;
    return *this;
  }
};

inline FaultOf fault(FaultRequest kind) {
  FaultOf b;
  b.f.request = kind;
  return b;
}

}  // namespace zevsim::test
