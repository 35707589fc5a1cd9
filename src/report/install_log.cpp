// The installation log and the final result.
#include "report/install_log.hpp"

#include "report/results_json.hpp"

#include <cstdio>

#include "core/firmware_image.hpp"
#include "core/result_codes.hpp"
#include "core/silent_mode.hpp"
#include "platform/platform.hpp"
#include "report/console.hpp"

namespace zev {

namespace {

constexpr std::string_view kPatchCompleted = "Patch completed\n";
constexpr std::string_view kRebootRequired =
    "Downloaded firmware successfully, but firmware activation requires reboot.\n";
constexpr std::string_view kPatchFailed = "Patch Failed.\n";

std::string decimal(std::int32_t value) {
  return std::to_string(value);
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

namespace {

std::string header(const UpdateContext& context) {
  return "Start Time : " + narrowText(context.startTime) + "\n" +  //
         "End Time : " + narrowText(context.endTime) + "\n" +      //
         "Input Command : " + narrowText(context.inputCommand) + "\n";
}

void appendDriveBlock(std::string& log, int number, const DiskInfo& disk, std::int32_t returnCode,
                      std::string_view details) {
  log += "\n[Disk #" + decimal(number) + "]\n";
  log += "Model Number : " + narrowText(disk.modelNumber) + "\n";
  log += "Serial Number : " + narrowText(disk.serialNumber) + "\n";
  log += "Current Firmware Version : " + narrowText(disk.firmwareRevision) + "\n";
  log += "Updated Firmware Version : " + narrowText(imageRevision) + "\n";
  log += "Return Code : " + decimal(returnCode) + "\n";
  log += "Result Details : ";
  log += details;
}

// One block per disk that could not be examined, numbered on from number; a
// disk the run could not examine is never taken for a success.
void appendUnexaminedBlocks(std::string& log, int number, const UnexaminedList& unexamined) {
  for (const UnexaminedDisk& disk : unexamined) {
    DiskInfo shown;
    appendDriveBlock(log, number++, shown, kResultFailure,
                     "Disk could not be examined (" + narrowText(disk.devicePath) + ").\n");
  }
}

void appendFinalResult(std::string& log, std::int32_t result, std::string_view details) {
  log += "\n[Final Result]\n";
  log += "Return Code : " + decimal(result) + "\n";
  log += "Result Details : ";
  log += details;
  log += "\n";
}

void writeLogAndResults(UpdateContext& context, const std::string& log) {
  if (context.logRequested && !platform::writeWholeFile(context.logPath, log)) {
    wideOut << L"[ERROR] " << context.logPath << L" could not be written." << endLine;
  }
  if (context.jsonRequested &&
      !platform::replaceFileAtomically(context.jsonPath, composeResultsJson(context))) {
    wideOut << L"[ERROR] " << context.jsonPath << L" could not be written." << endLine;
  }
  wideOut << endLine;
  wideOut << L" >> ZEV Ended (Return Code : " << context.finalResult << L")" << endLine;
  wideOut << endLine;
}

}  // namespace

std::string composeLog(UpdateContext& context) {
  std::string log = header(context);
  if (context.runError) {
    context.finalResult = kResultFailure;
    appendFinalResult(log, context.finalResult, *context.runError);
    return log;
  }
  if (context.updateList.empty()) {
    log += "[No Disk]\n";
    log += "Updated Firmware Version : " + narrowText(imageRevision) + "\n";
    log += "Return Code : " + decimal(kResultFailure) + "\n";
    log += "Result Details : No disks are available for download.\n";
    context.finalResult = kResultFailure;
  }
  int number = 1;
  for (const DiskInfo& disk : context.updateList) {
    if (disk.resultCode == kResultSuccess) {
      appendDriveBlock(log, number++, disk, disk.resultCode, kPatchCompleted);
    } else if (disk.resultCode == kResultRebootRequired) {
      appendDriveBlock(log, number++, disk, disk.resultCode, kRebootRequired);
      if (context.finalResult != kResultFailure) {
        context.finalResult = kResultRebootRequired;
      }
    } else {
      // 1, and every other code (5: a drive or port that could not be
      // opened, a failed request) is a failure.
      appendDriveBlock(log, number++, disk, disk.resultCode, kPatchFailed);
      context.finalResult = kResultFailure;
    }
  }
  appendUnexaminedBlocks(log, number, context.inventory->unexamined);
  if (!context.inventory->unexamined.empty()) {
    context.finalResult = kResultFailure;
  }
  log += "\n[Final Result]\n";
  log += "Return Code : " + decimal(context.finalResult) + "\n";
  if (context.finalResult == kResultSuccess) {
    log += "Result Details : Patch completed\n";
  } else if (context.finalResult == kResultRebootRequired) {
    log += "Result Details : " + std::string(kRebootRequired);
  } else {
    log += "Result Details : Patch Failed..\n";
  }
  return log;
}

std::string checkVerdictText(Decision decision) {
  switch (decision) {
    case Decision::UpdatePendingReset:
      return "Update pending reset.";
    case Decision::AlreadyCurrent:
      return "Already at " + narrowText(imageRevision) + ".";
    case Decision::NotAccepted:
      return "Revision not accepted.";
    default:
      return "Update available.";
  }
}

std::string composeCheckLog(const UpdateContext& context) {
  std::string log = header(context);
  if (!context.runError) {
    int number = 1;
    for (const DriveOutcome& outcome : context.outcomes) {
      if (outcome.decision != Decision::NotExamined) {
        appendDriveBlock(log, number++, outcome.disk, kResultSuccess,
                         checkVerdictText(outcome.decision) + "\n");
      }
    }
    appendUnexaminedBlocks(log, number, context.inventory->unexamined);
  }
  std::string details = context.finalResult == kResultSuccess    ? "Update available."
                        : context.finalResult == kNoUpdateNeeded ? "No update needed."
                                                                 : "Check failed.";
  appendFinalResult(log, context.finalResult, context.runError ? *context.runError : details);
  return log;
}

std::int32_t writeCheckResults(UpdateContext& context, std::int32_t exitStatus) {
  context.endClock = platform::localTime();
  context.endTime = widenBytes(timeStamp(context.endClock));
  context.finalResult = exitStatus;
  writeLogAndResults(context, composeCheckLog(context));
  return context.finalResult;
}

std::int32_t writeResults(UpdateContext& context) {
  context.endClock = platform::localTime();
  context.endTime = widenBytes(timeStamp(context.endClock));
  const std::string log = composeLog(context);
  writeLogAndResults(context, log);
  if (!silentMode) {
    std::wstring text;
    if (context.finalResult == kResultSuccess) {
      text = L"Patch completed\n";
    } else if (context.finalResult == kResultRebootRequired) {
      text =
          L"Result Details : Downloaded firmware successfully, \nbut firmware activation "
          L"requires reboot.\n";
    } else {
      text = L"Patch Failed.\n";
    }
    platform::showMessageBox(text, L"KELDORA " + PackageTitle);
  }
  return context.finalResult;
}

}  // namespace zev
