// The embedded firmware image and the package identity built from it: the
// working copy the update paths send (packageImage), the image's revision and
// the package title. The identity is a value the run passes to whatever
// prints or compares it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zev {

inline constexpr std::size_t kFirmwareImageSize = 2097152;
// The image's revision: 8 single-byte characters at 0x1010 to 0x1017.
inline constexpr std::size_t kImageRevisionOffset = 0x1010;
inline constexpr std::size_t kImageRevisionLength = 8;

struct PackageIdentity {
  // "ZEV_TQ270c_V" + the package version + "_" + imageRevision.
  std::wstring title;
  // The 8 characters of the image's revision, one per byte, zero bytes kept.
  std::wstring imageRevision;
};

// The image as linked into the program.
std::span<const std::uint8_t> firmwareImage();

// The working copy of the image, read-only: the bytes every update path sends.
// The run hands it to the update paths as a parameter.
std::span<const std::uint8_t> packageImage();

// The SHA-256 of the image as the build computed it, in lower-case
// hexadecimal (defined by the source the build generates beside the image).
const char* expectedImageSha256();

// Fills the working copy from the embedded image and returns the identity
// read from it.
PackageIdentity buildPackageIdentity();

}  // namespace zev
