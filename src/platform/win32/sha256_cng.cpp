// SHA-256 through Windows' CNG (the SHA-256 algorithm provider and a hash
// object of its own), for every Windows build: the package and zev-sim.exe.

// The SDK headers depend on this order.
#include <windows.h>

#include <bcrypt.h>

#include <limits>

#include "platform/sha256.hpp"

namespace zev::platform {

namespace {

bool succeeded(NTSTATUS status) {
  return status >= 0;
}

}  // namespace

std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > std::numeric_limits<ULONG>::max()) {
    return std::nullopt;
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return std::nullopt;
  }
  Sha256Digest digest{};
  BCRYPT_HASH_HANDLE hash = nullptr;
  // The hash object's memory is allocated by CNG itself (no buffer offered).
  // BCryptHashData takes a non-const input pointer; it does not write
  // through it.
  const bool hashed =
      succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
      succeeded(BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()),
                               static_cast<ULONG>(bytes.size()), 0)) &&
      succeeded(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  if (hash != nullptr) {
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!hashed) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace zev::platform
