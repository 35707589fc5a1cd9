// The package identity built from the embedded image, and the zero-filled buffer.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/firmware_image.hpp"
#include "core/zero_filled_buffer.hpp"

namespace zev {
namespace {

TEST(PackageIdentity, CopiesTheImageAndReadsItsRevision) {
  resetPackageIdentity();
  buildPackageIdentity();
  const auto image = firmwareImage();
  ASSERT_EQ(image.size(), kFirmwareImageSize);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), packageImage().begin(), packageImage().end()));
  EXPECT_EQ(imageRevision, L"KTW8LMZB");
  EXPECT_EQ(PackageTitle, L"ZEV_TQ270c_V1.0.2_KTW8LMZB");
  EXPECT_EQ(PackageTitle.size(), 26u);
}

TEST(PackageIdentity, RebuildingDoesNotGrowTheTitle) {
  buildPackageIdentity();
  buildPackageIdentity();
  EXPECT_EQ(PackageTitle.size(), 26u);
  EXPECT_EQ(imageRevision.size(), 8u);
}

TEST(ZeroFilledBuffer, ComesZeroFilledOrNotAtAll) {
  const auto buffer = zeroFilledBuffer(4252);
  ASSERT_TRUE(buffer.has_value());
  EXPECT_EQ(buffer->size(), 4252u);
  EXPECT_EQ(std::count(buffer->begin(), buffer->end(), 0), 4252);
  EXPECT_FALSE(zeroFilledBuffer(~std::uint64_t{0}).has_value());
}

}  // namespace
}  // namespace zev
