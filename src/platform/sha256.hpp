// The SHA-256 digest, computed by the platform's own cryptography library:
// Windows' CNG (bcrypt) in every Windows build, OpenSSL's libcrypto on Linux.
// The build picks the implementation; nothing above this header knows which.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace zev::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The digest of bytes; nullopt when the library cannot compute it.
std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes);

}  // namespace zev::platform
