// The banner: a rule of 96 "=", the package title, the notice of rights, the
// rule again.
#include "report/banner.hpp"

#include <string>

#include "core/firmware_image.hpp"
#include "report/console.hpp"

namespace zev {

void printBanner() {
  const std::wstring rule(96, L'=');
  wideOut << rule << endLine;
  wideOut << PackageTitle << endLine;
  wideOut << L"Copyright (C) KELDORA. All rights reserved." << endLine;
  wideOut << rule << endLine;
}

}  // namespace zev
