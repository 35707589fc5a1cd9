// The banner that opens every run.
#pragma once

#include "core/firmware_image.hpp"

namespace zev {

void printBanner(const PackageIdentity& identity);

}  // namespace zev
