// The embedded firmware image (FirmwareImage) and the process-wide package
// identity built from it: the working copy the update paths send
// (packageImage), the image's revision (imageRevision) and the package name
// (PackageTitle).
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
inline constexpr std::wstring_view kPackageTitlePrefix = L"ZEV_TQ270c_V1.0.2_";

// The image as linked into the program.
std::span<const std::uint8_t> firmwareImage();

// The working copy of the image, read-only: the bytes every update path sends.
// The run hands it to the update paths as a parameter.
std::span<const std::uint8_t> packageImage();

extern std::wstring imageRevision;
extern std::wstring PackageTitle;

// The SHA-256 of the image as the build computed it, in lower-case
// hexadecimal (defined by the source the build generates beside the image).
const char* expectedImageSha256();

// Fills the working copy, imageRevision and PackageTitle from the embedded image.
void buildPackageIdentity();
// Empties imageRevision and PackageTitle again (between in-process runs).
void resetPackageIdentity();

}  // namespace zev
