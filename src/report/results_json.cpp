// The results file.
#include "report/results_json.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/driver_kind_row.hpp"
#include "core/process_exit_code.hpp"
#include "core/text.hpp"

namespace zev {

namespace {

using Json = nlohmann::ordered_json;

// Drive text without its trailing blanks; null when the drive was not
// examined.
std::optional<std::wstring> driveText(const DriveOutcome& outcome, const std::wstring& text) {
  if (outcome.decision == Decision::NotExamined) {
    return std::nullopt;
  }
  const std::size_t end = text.find_last_not_of(L' ');
  return end == std::wstring::npos ? std::wstring() : text.substr(0, end + 1);
}

Json jsonText(const std::optional<std::wstring>& text) {
  return text ? Json(utf8FromWide(*text)) : Json(nullptr);
}

const char* decisionName(Decision decision) {
  switch (decision) {
    case Decision::Updated:
      return "updated";
    case Decision::UpdatedNeedsPowerCycle:
      return "updatedNeedsPowerCycle";
    case Decision::Failed:
      return "failed";
    case Decision::NotAccepted:
      return "notAccepted";
    case Decision::NotExamined:
      return "notExamined";
    case Decision::UpdateAvailable:
      return "updateAvailable";
    case Decision::UpdatePendingReset:
      return "updatePendingReset";
    case Decision::AlreadyCurrent:
      return "alreadyCurrent";
    case Decision::UpdateNotPossible:
      return "updateNotPossible";
  }
  return "failed";
}

Json driveJson(const DriveOutcome& outcome) {
  const DriveFields fields = driveFields(outcome);
  Json drive = Json::object();
  drive["driver"] = fields.driver ? Json(std::string(*fields.driver)) : Json(nullptr);
  drive["raid"] = fields.raid;
  drive["devicePath"] = utf8FromWide(fields.devicePath);
  drive["model"] = jsonText(fields.model);
  drive["serial"] = jsonText(fields.serial);
  drive["firmware"] = jsonText(fields.firmware);
  drive["decision"] = std::string(fields.decision);
  drive["resultCode"] = fields.resultCode ? Json(*fields.resultCode) : Json(nullptr);
  drive["detail"] = jsonText(fields.detail);
  return drive;
}

}  // namespace

DriveFields driveFields(const DriveOutcome& outcome) {
  const DiskInfo& disk = outcome.disk;
  DriveFields fields;
  if (outcome.row != nullptr) {
    fields.driver = outcome.row->resultsDriver;
  }
  fields.raid = outcome.row != nullptr && outcome.row->raid;
  fields.devicePath = disk.devicePath;
  fields.model = driveText(outcome, disk.modelNumber);
  fields.serial = driveText(outcome, disk.serialNumber);
  fields.firmware = driveText(outcome, disk.firmwareRevision);
  fields.decision = decisionName(outcome.decision);
  fields.resultCode = outcome.resultCode;
  if (!outcome.detail.empty()) {
    fields.detail = widenBytes(outcome.detail);
  }
  return fields;
}

std::string isoTime(const platform::LocalTime& t) {
  const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

std::string composeResultsJson(const UpdateContext& context) {
  Json results = Json::object();
  results["schemaVersion"] = 1;
  results["package"] = utf8FromWide(context.identity.title);
  results["imageRevision"] = utf8FromWide(context.identity.imageRevision);
  results["imageSha256"] = context.imageSha256;
  results["computerName"] = utf8FromWide(platform::computerName());
  results["mode"] = context.checkOnly ? "check" : "update";
  results["startTime"] = isoTime(context.startClock);
  results["endTime"] = isoTime(context.endClock);
  Json commandLine = Json::array();
  for (const std::wstring& argument : context.arguments) {
    commandLine.push_back(utf8FromWide(argument));
  }
  results["commandLine"] = std::move(commandLine);
  results["exitStatus"] = context.finalResult;
  results["processExitCode"] = processExitCode(context);
  results["error"] = context.runError ? Json(*context.runError) : Json(nullptr);
  Json drives = Json::array();
  for (const DriveOutcome& outcome : context.outcomes) {
    drives.push_back(driveJson(outcome));
  }
  results["drives"] = std::move(drives);
  return results.dump(2) + "\n";
}

}  // namespace zev
