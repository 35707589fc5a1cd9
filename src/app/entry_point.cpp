// The entry point: start-up, banner, command line, log start, run sequence,
// results, teardown.
#include "app/entry_point.hpp"

#include "app/command_line.hpp"
#include "app/run_sequence.hpp"
#include "core/firmware_image.hpp"
#include "core/silent_mode.hpp"
#include "core/update_context.hpp"
#include "platform/platform.hpp"
#include "report/banner.hpp"
#include "report/console.hpp"
#include "report/install_log.hpp"

namespace zev {

std::int32_t packageMain(int argc, const wchar_t* const* argv) {
  // Process-wide state starts fresh on every run, also for in-process runs.
  silentMode = false;
  narrowOut.reset();
  resetPackageIdentity();

  if (!platform::getModuleHandle()) {
    printWide(L"Fatal Error: GetModuleHandle failed\n");
  }

  std::int32_t exitStatus = 1;
  {
    UpdateContext context;
    buildPackageIdentity();
    printBanner();
    if (parseCommandLine(context, argc, argv) != 0) {
      beginLog(context);
      runSequence(*context.inventory, context);
      exitStatus = writeResults(context);
    }
  }
  flushConsole();
  return exitStatus;
}

}  // namespace zev
