// The download verdict of the Intel paths, the one pair of "[PASS]" and
// "[FAIL]" lines after the pieces.
#include "report/console.hpp"
#include "update/update_paths.hpp"

namespace zev {

StepOutcome downloadVerdict(StepOutcome pieces) {
  narrowOut << endLine;
  if (pieces.code != 0) {
    narrowOut << "  [FAIL] Firmware download failed." << endLine;
    pieces.code = 1;
    return pieces;
  }
  narrowOut << "  [PASS] Firmware download succeeded." << endLine;
  return pieces;
}

}  // namespace zev
