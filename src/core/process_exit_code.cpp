#include "core/process_exit_code.hpp"

#include "core/result_codes.hpp"

namespace zev {

namespace {

constexpr std::int32_t kInstallerSuccess = 0;
constexpr std::int32_t kInstallerSoftReboot = 3010;
constexpr std::int32_t kInstallerAlreadyRunning = 1618;
constexpr std::int32_t kInstallerInvalidCommandLine = 1639;
constexpr std::int32_t kInstallerFatalError = 1603;

}  // namespace

std::int32_t processExitCode(ExitCodeStyle style, RunMode mode, RunEnd end,
                             std::int32_t exitStatus) {
  if (style == ExitCodeStyle::Package) {
    return exitStatus;
  }
  if (end == RunEnd::CommandLineRejected) {
    return kInstallerInvalidCommandLine;
  }
  if (mode == RunMode::Check) {
    return exitStatus;
  }
  if (exitStatus == kResultSuccess) {
    return kInstallerSuccess;
  }
  if (exitStatus == kResultRebootRequired) {
    return kInstallerSoftReboot;
  }
  if (end == RunEnd::GuardHeld) {
    return kInstallerAlreadyRunning;
  }
  return kInstallerFatalError;
}

std::int32_t processExitCode(const UpdateContext& context) {
  return processExitCode(context.exitCodeStyle,
                         context.checkOnly ? RunMode::Check : RunMode::Update, context.runEnd,
                         context.finalResult);
}

}  // namespace zev
