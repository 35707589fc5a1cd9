// The banner that opens every run.
#pragma once

namespace zev {

void printBanner();

}  // namespace zev
