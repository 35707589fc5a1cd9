// The embedded image and the package identity.
#include "core/firmware_image.hpp"

#include <algorithm>

extern "C" {
extern const std::uint8_t zevFirmwareImage[];
extern const std::uint8_t zevFirmwareImageEnd[];
}

namespace zev {

namespace {

// The package version comes from the build (the project's version).
constexpr std::wstring_view kPackageTitlePrefix = L"ZEV_TQ270c_V" ZEV_PACKAGE_VERSION L"_";

std::array<std::uint8_t, kFirmwareImageSize> imageBuffer{};

}  // namespace

std::span<const std::uint8_t> firmwareImage() {
  return {zevFirmwareImage, static_cast<std::size_t>(zevFirmwareImageEnd - zevFirmwareImage)};
}

std::span<const std::uint8_t> packageImage() {
  return imageBuffer;
}

PackageIdentity buildPackageIdentity() {
  const auto image = firmwareImage();
  std::copy_n(image.begin(), std::min(image.size(), imageBuffer.size()), imageBuffer.begin());
  // The revision is read from the working copy, byte by byte, zero-extended:
  // a zero byte stays a zero character inside the 8.
  PackageIdentity identity;
  identity.imageRevision.assign(kImageRevisionLength, L'\0');
  for (std::size_t i = 0; i < kImageRevisionLength; ++i) {
    identity.imageRevision[i] = static_cast<wchar_t>(imageBuffer[kImageRevisionOffset + i]);
  }
  identity.title = std::wstring(kPackageTitlePrefix) + identity.imageRevision;
  return identity;
}

}  // namespace zev
