// The package identity built from the embedded image.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/firmware_image.hpp"

namespace zev {
namespace {

TEST(PackageIdentity, CopiesTheImageAndReadsItsRevision) {
  resetPackageIdentity();
  buildPackageIdentity();
  const auto image = firmwareImage();
  ASSERT_EQ(image.size(), kFirmwareImageSize);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), imageBuffer.begin()));
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

}  // namespace
}  // namespace zev
