// The run's result.
#include "core/run_result.hpp"

#include <algorithm>

#include "core/result_codes.hpp"

namespace zev {

namespace {

constexpr const char* kPatchCompleted = "Patch completed";
constexpr const char* kRebootRequired =
    "Downloaded firmware successfully, but firmware activation requires reboot.";
constexpr const char* kPatchFailed = "Patch Failed..";

bool any(const std::vector<DriveOutcome>& outcomes, bool (*test)(const DriveOutcome&)) {
  return std::any_of(outcomes.begin(), outcomes.end(), test);
}

RunResult updateResult(const std::vector<DriveOutcome>& outcomes) {
  RunResult result;
  result.noDiskSelected =
      !any(outcomes, [](const DriveOutcome& o) { return o.resultCode.has_value(); });
  const bool failed = result.noDiskSelected || any(outcomes, [](const DriveOutcome& o) {
                        return o.decision == Decision::NotExamined ||
                               (o.resultCode && *o.resultCode != kResultSuccess &&
                                *o.resultCode != kResultRebootRequired);
                      });
  if (failed) {
    result.exitStatus = kResultFailure;
    result.details = kPatchFailed;
  } else if (any(outcomes,
                 [](const DriveOutcome& o) { return o.resultCode == kResultRebootRequired; })) {
    result.exitStatus = kResultRebootRequired;
    result.details = kRebootRequired;
  } else {
    result.exitStatus = kResultSuccess;
    result.details = kPatchCompleted;
  }
  return result;
}

RunResult checkResult(const std::vector<DriveOutcome>& outcomes) {
  RunResult result;
  if (any(outcomes, [](const DriveOutcome& o) {
        return o.decision == Decision::NotExamined || o.decision == Decision::UpdateNotPossible;
      })) {
    result.exitStatus = kResultFailure;
    result.details = "Check failed.";
  } else if (any(outcomes,
                 [](const DriveOutcome& o) { return o.decision == Decision::UpdateAvailable; })) {
    result.exitStatus = kResultSuccess;
    result.details = "Update available.";
  } else {
    result.exitStatus = kNoUpdateNeeded;
    result.details = "No update needed.";
  }
  return result;
}

}  // namespace

RunResult runResultOf(RunMode mode, const std::vector<DriveOutcome>& outcomes,
                      const std::optional<std::string>& runError) {
  if (runError) {
    return {kResultFailure, *runError, false};
  }
  return mode == RunMode::Check ? checkResult(outcomes) : updateResult(outcomes);
}

}  // namespace zev
