// The growing-buffer protocol of the SetupAPI property calls: ask once with no
// buffer; while the call fails with ERROR_INSUFFICIENT_BUFFER, offer a
// zero-filled buffer of twice the size it reported and ask again. Shared by
// the device-property reader and the hardware-identifier read.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "core/zero_filled_buffer.hpp"
#include "platform/platform.hpp"
#include "platform/platform_constants.hpp"

namespace zev {

struct GrownValue {
  std::vector<std::uint8_t> buffer;  // the buffer the value was read into
  std::uint32_t size = 0;            // the required size the last call reported
};

// call(buffer, bufferSize, &requiredSize) -> bool is one platform query. The
// value when a call with a buffer succeeded; nullopt when the first call
// succeeds (no value), another error ends the loop, the doubled size does not
// fit in 32 bits or cannot be allocated, or the call keeps asking for no more
// than it was just offered (a loop that could never end).
template <class Query>
std::optional<GrownValue> readWithGrowingBuffer(Query&& call) {
  std::uint32_t required = 0;
  if (call(nullptr, 0u, &required)) {
    return std::nullopt;
  }
  GrownValue value;
  std::uint32_t offered = 0;
  bool first = true;
  while (platform::getLastError() == platform::kErrorInsufficientBuffer) {
    if (!first && required <= offered) {
      return std::nullopt;
    }
    first = false;
    const std::uint64_t doubled = std::uint64_t{required} * 2u;
    if (doubled > std::numeric_limits<std::uint32_t>::max()) {
      return std::nullopt;
    }
    offered = static_cast<std::uint32_t>(doubled);
    auto buffer = zeroFilledBuffer(offered);
    if (!buffer) {
      return std::nullopt;
    }
    value.buffer = std::move(*buffer);
    if (call(value.buffer.data(), offered, &required)) {
      value.size = required;
      return value;
    }
  }
  return std::nullopt;
}

}  // namespace zev
