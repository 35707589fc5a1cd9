// The installation log and the final result.
#include "report/install_log.hpp"

#include <cstdio>

#include "core/result_codes.hpp"
#include "core/silent_mode.hpp"
#include "core/text.hpp"
#include "platform/platform.hpp"
#include "report/console.hpp"
#include "report/event_entry.hpp"
#include "report/machine_capture.hpp"
#include "report/results_json.hpp"

namespace zev {

namespace {

constexpr std::string_view kPatchCompleted = "Patch completed\n";
constexpr std::string_view kRebootRequired =
    "Downloaded firmware successfully, but firmware activation requires reboot.\n";
constexpr std::string_view kPatchFailed = "Patch Failed.\n";

std::string decimal(std::int32_t value) {
  return std::to_string(value);
}

std::string header(const UpdateContext& context) {
  return "Start Time : " + narrowText(context.startTime) + "\n" +  //
         "End Time : " + narrowText(context.endTime) + "\n" +      //
         "Input Command : " + narrowText(printableText(context.inputCommand)) + "\n";
}

void appendDriveBlock(std::string& log, int number, const DiskInfo& disk, std::int32_t returnCode,
                      std::string_view details, const PackageIdentity& identity) {
  log += "\n[Disk #" + decimal(number) + "]\n";
  log += "Model Number : " + narrowText(disk.modelNumber) + "\n";
  log += "Serial Number : " + narrowText(disk.serialNumber) + "\n";
  log += "Current Firmware Version : " + narrowText(disk.firmwareRevision) + "\n";
  log += "Updated Firmware Version : " + narrowText(identity.imageRevision) + "\n";
  log += "Return Code : " + decimal(returnCode) + "\n";
  log += "Result Details : ";
  log += details;
}

// One block per disk that could not be examined, numbered on from number; a
// disk the run could not examine is never taken for a success.
void appendUnexaminedBlocks(std::string& log, int number, const UpdateContext& context) {
  for (const DriveOutcome& outcome : context.outcomes) {
    if (outcome.decision == Decision::NotExamined) {
      appendDriveBlock(log, number++, DiskInfo{}, kResultFailure,
                       "Disk could not be examined (" +
                           narrowText(printableText(outcome.disk.devicePath)) + ").\n",
                       context.identity);
    }
  }
}

void appendFinalResult(std::string& log, const RunResult& result) {
  log += "\n[Final Result]\n";
  log += "Return Code : " + decimal(result.exitStatus) + "\n";
  log += "Result Details : " + result.details + "\n";
}

// A drive's update result code in words: 0 and 1602 are their own, every
// other code (1; 5, a drive or port that could not be opened or a failed
// request) a failure.
std::string_view updateDetails(std::int32_t resultCode) {
  if (resultCode == kResultSuccess) {
    return kPatchCompleted;
  }
  return resultCode == kResultRebootRequired ? kRebootRequired : kPatchFailed;
}

const wchar_t* messageBoxText(std::int32_t exitStatus) {
  if (exitStatus == kResultSuccess) {
    return L"Patch completed\n";
  }
  if (exitStatus == kResultRebootRequired) {
    return L"Result Details : Downloaded firmware successfully, \nbut firmware activation "
           L"requires reboot.\n";
  }
  return L"Patch Failed.\n";
}

}  // namespace

std::string timeStamp(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d(%02d:%02d:%02d)", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return text;
}

std::string timeStamp() {
  return timeStamp(platform::localTime());
}

void beginLog(UpdateContext& context) {
  context.startClock = platform::localTime();
  context.startTime = widenBytes(timeStamp(context.startClock));
  wideOut << endLine;
  wideOut << L" >> ZEV Started " << endLine;
  wideOut << endLine;
}

std::string composeLog(const UpdateContext& context, const RunResult& result) {
  std::string log = header(context);
  if (!context.runError) {
    if (result.noDiskSelected) {
      log += "[No Disk]\n";
      log += "Updated Firmware Version : " + narrowText(context.identity.imageRevision) + "\n";
      log += "Return Code : " + decimal(kResultFailure) + "\n";
      log += "Result Details : No disks are available for download.\n";
    }
    int number = 1;
    for (const DriveOutcome& outcome : context.outcomes) {
      if (outcome.resultCode) {
        appendDriveBlock(log, number++, outcome.disk, *outcome.resultCode,
                         updateDetails(*outcome.resultCode), context.identity);
      }
    }
    appendUnexaminedBlocks(log, number, context);
  }
  appendFinalResult(log, result);
  return log;
}

std::string checkVerdictText(const DriveOutcome& outcome, const PackageIdentity& identity) {
  switch (outcome.decision) {
    case Decision::UpdateNotPossible:
      return "Update not possible: " + outcome.detail;
    case Decision::UpdatePendingReset:
      return "Update pending reset.";
    case Decision::AlreadyCurrent:
      return "Already at " + narrowText(identity.imageRevision) + ".";
    case Decision::NotAccepted:
      return "Revision not accepted.";
    default:
      return "Update available.";
  }
}

std::string composeCheckLog(const UpdateContext& context, const RunResult& result) {
  std::string log = header(context);
  if (!context.runError) {
    int number = 1;
    for (const DriveOutcome& outcome : context.outcomes) {
      if (outcome.decision != Decision::NotExamined) {
        appendDriveBlock(log, number++, outcome.disk, kResultSuccess,
                         checkVerdictText(outcome, context.identity) + "\n", context.identity);
      }
    }
    appendUnexaminedBlocks(log, number, context);
  }
  appendFinalResult(log, result);
  return log;
}

std::int32_t writeResults(UpdateContext& context, const RunResult& result) {
  context.endClock = platform::localTime();
  context.endTime = widenBytes(timeStamp(context.endClock));
  context.finalResult = result.exitStatus;
  const std::string log =
      context.checkOnly ? composeCheckLog(context, result) : composeLog(context, result);
  // Both files through a temporary file of their own, then moved over theirs.
  if (context.logRequested && !platform::writeFileSafely(context.logPath, log)) {
    wideOut << L"[ERROR] " << printableText(context.logPath) << L" could not be written."
            << endLine;
  }
  if (context.jsonRequested &&
      !platform::writeFileSafely(context.jsonPath, composeResultsJson(context))) {
    // Neither an earlier run's results nor the check's empty file may be
    // read as this run's.
    platform::discardFile(context.jsonPath);
    wideOut << L"[ERROR] " << printableText(context.jsonPath) << L" could not be written."
            << endLine;
  }
  if (context.captureRequested &&
      !platform::writeFileSafely(context.capturePath, composeMachineCapture(context))) {
    // A capture that could not be written is never mistaken for this run's.
    platform::discardFile(context.capturePath);
    wideOut << L"[ERROR] " << printableText(context.capturePath) << L" could not be written."
            << endLine;
  }
  wideOut << endLine;
  wideOut << L" >> ZEV Ended (Return Code : " << context.finalResult << L")" << endLine;
  wideOut << endLine;
  // The run's one entry in the Application log. A log that takes no entry
  // (full, or its service not running) changes nothing of the run.
  const EventEntry entry = composeEventEntry(context, result);
  platform::writeEventLogEntry(kEventSource, entry.type, entry.id, entry.text);
  if (!context.checkOnly && !silentMode) {
    platform::showMessageBox(messageBoxText(context.finalResult),
                             L"KELDORA " + context.identity.title);
  }
  return context.finalResult;
}

}  // namespace zev
