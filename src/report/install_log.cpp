// The installation log and the final result.
#include "report/install_log.hpp"

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

std::string timeStamp() {
  const platform::LocalTime t = platform::localTime();
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d(%02d:%02d:%02d)", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return text;
}

void beginLog(UpdateContext& context) {
  context.startTime = widenBytes(timeStamp());
  wideOut << endLine;
  wideOut << L" >> ZEV Started " << endLine;
  wideOut << endLine;
}

std::string composeLog(UpdateContext& context) {
  std::string log;
  log += "Start Time : " + narrowText(context.startTime) + "\n";
  log += "End Time : " + narrowText(context.endTime) + "\n";
  log += "Input Command : " + narrowText(context.inputCommand) + "\n";
  if (context.updateList.empty()) {
    log += "[No Disk]\n";
    log += "Updated Firmware Version : " + narrowText(imageRevision) + "\n";
    log += "Return Code : " + decimal(kResultFailure) + "\n";
    log += "Result Details : No disks are available for download.\n";
    context.finalResult = kResultFailure;
  }
  int number = 1;
  for (const DiskInfo& disk : context.updateList) {
    log += "\n[Disk #" + decimal(number++) + "]\n";
    log += "Model Number : " + narrowText(disk.modelNumber) + "\n";
    log += "Serial Number : " + narrowText(disk.serialNumber) + "\n";
    log += "Current Firmware Version : " + narrowText(disk.firmwareRevision) + "\n";
    log += "Updated Firmware Version : " + narrowText(imageRevision) + "\n";
    log += "Return Code : " + decimal(disk.resultCode) + "\n";
    log += "Result Details : ";
    if (disk.resultCode == kResultSuccess) {
      log += kPatchCompleted;
    } else if (disk.resultCode == kResultRebootRequired) {
      log += kRebootRequired;
      if (context.finalResult != kResultFailure) {
        context.finalResult = kResultRebootRequired;
      }
    } else {
      // 1, and every other code (5: a drive or port that could not be
      // opened, a failed request) is a failure.
      log += kPatchFailed;
      context.finalResult = kResultFailure;
    }
  }
  // A disk the run could not examine is never taken for a success.
  for (const UnexaminedDisk& disk : context.inventory->unexamined) {
    log += "\n[Disk #" + decimal(number++) + "]\n";
    log += "Model Number : \n";
    log += "Serial Number : \n";
    log += "Current Firmware Version : \n";
    log += "Updated Firmware Version : " + narrowText(imageRevision) + "\n";
    log += "Return Code : " + decimal(kResultFailure) + "\n";
    log += "Result Details : Disk could not be examined (" + narrowText(disk.devicePath) + ").\n";
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

std::int32_t writeResults(UpdateContext& context) {
  context.endTime = widenBytes(timeStamp());
  const std::string log = composeLog(context);
  if (context.logRequested && !platform::writeWholeFile(context.logPath, log)) {
    wideOut << L"[ERROR] " << context.logPath << L" could not be written." << endLine;
  }
  wideOut << endLine;
  wideOut << L" >> ZEV Ended (Return Code : " << context.finalResult << L")" << endLine;
  wideOut << endLine;
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
