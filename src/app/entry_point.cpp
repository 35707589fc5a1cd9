// The entry point: start-up, banner, command line, the run guard, log start,
// the image check, run sequence or check, results, teardown.
#include "app/entry_point.hpp"

#include <string>

#include "app/command_line.hpp"
#include "app/run_sequence.hpp"
#include "core/firmware_image.hpp"
#include "core/process_exit_code.hpp"
#include "core/run_result.hpp"
#include "core/silent_mode.hpp"
#include "core/text.hpp"
#include "core/update_context.hpp"
#include "platform/platform.hpp"
#include "platform/sha256.hpp"
#include "report/banner.hpp"
#include "report/console.hpp"
#include "report/install_log.hpp"

namespace zev {

namespace {

constexpr const char* kGuardHeld = "Another firmware update is running.";
constexpr const char* kImageDamaged = "The firmware image is damaged.";

// The working copy's SHA-256 in lower-case hexadecimal; empty when the
// platform's library cannot compute it.
std::string imageSha256Hex() {
  const auto digest = platform::sha256(packageImage());
  return digest ? hexBytes(*digest) : std::string();
}

// Ends the run before any drive is touched, after its error line.
void failRun(UpdateContext& context, const char* text) {
  printErrorLine(text);
  context.runError = text;
}

}  // namespace

std::int32_t packageMain(int argc, const wchar_t* const* argv) {
  // The silent flag starts fresh on every run, also for in-process runs.
  silentMode = false;

  const bool moduleHandleFails = !platform::getModuleHandle();
  if (moduleHandleFails) {
    printWide(L"Fatal Error: GetModuleHandle failed\n");
  }

  std::int32_t exitCode = 1;
  {
    UpdateContext context;
    context.inventory.observation.moduleHandleFails = moduleHandleFails;
    context.identity = buildPackageIdentity();
    printBanner(context.identity);
    if (parseCommandLine(context, argc, argv) == 0) {
      exitCode =
          processExitCode(context.exitCodeStyle, RunMode::Update, RunEnd::CommandLineRejected, 1);
    } else {
      // One run at a time: two runs could interleave requests to one drive.
      const bool guarded = platform::acquireRunGuard();
      beginLog(context);
      // The fingerprint goes into the results file whatever becomes of the run.
      context.imageSha256 = imageSha256Hex();
      if (!guarded) {
        context.runEnd = RunEnd::GuardHeld;
        context.inventory.observation.runGuardHeld = true;
        failRun(context, kGuardHeld);
      } else {
        // The image is checked before any drive is touched.
        if (context.checkOnly) {
          narrowOut << " Image SHA-256 : " << context.imageSha256 << endLine << endLine;
        }
        if (context.imageSha256 != expectedImageSha256()) {
          failRun(context, kImageDamaged);
        } else if (context.checkOnly) {
          runCheck(context.inventory, context);
        } else {
          runSequence(context.inventory, context);
        }
      }
      writeResults(context, runResultOf(context.checkOnly ? RunMode::Check : RunMode::Update,
                                        context.outcomes, context.runError));
      exitCode = processExitCode(context);
      if (guarded) {
        platform::releaseRunGuard();
      }
    }
  }
  flushConsole();
  return exitCode;
}

}  // namespace zev
