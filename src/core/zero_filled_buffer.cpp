// The zero-filled buffer.
#include "core/zero_filled_buffer.hpp"

#include <limits>
#include <new>
#include <stdexcept>

namespace zev {

std::optional<std::vector<std::uint8_t>> zeroFilledBuffer(std::uint64_t size) {
  if (size > std::numeric_limits<std::size_t>::max()) {
    return std::nullopt;
  }
  try {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(size), std::uint8_t{0});
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {
    return std::nullopt;
  }
}

}  // namespace zev
