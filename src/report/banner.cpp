// The banner: a rule of 96 "=", the package title, the notice of rights, the
// rule again.
#include "report/banner.hpp"

#include <string>

#include "core/firmware_image.hpp"
#include "report/console.hpp"

namespace zev {

void printBanner(const PackageIdentity& identity) {
  const std::wstring rule(96, L'=');
  wideOut << rule << endLine;
  wideOut << identity.title << endLine;
  wideOut << L"Copyright (C) KELDORA. All rights reserved." << endLine;
  wideOut << rule << endLine;
}

}  // namespace zev
