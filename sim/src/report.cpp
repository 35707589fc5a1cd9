// The report file: the run's exit status, the message boxes shown, the event
// log entries written, the device handles and device-information sets left
// open, and per drive the requests that reached it, what it received and what
// it will run after a reset.
#include "zevsim/report.hpp"

#include <nlohmann/json.hpp>

#include "report_format.hpp"
#include "windows_values.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/utf8.hpp"

namespace zevsim {

namespace {

using Json = nlohmann::ordered_json;

Json driveJson(const DriveReport& drive) {
  Json requests = Json::object();
  for (int kind = 0; kind < kFaultRequestKinds; ++kind) {
    const std::uint32_t count = drive.requests[static_cast<std::size_t>(kind)];
    if (count > 0) {
      requests[faultRequestName(static_cast<FaultRequest>(kind))] = count;
    }
  }
  Json slots = Json::array();
  for (const SlotReport& slot : drive.slots) {
    Json entry = Json::object();
    entry["slot"] = slot.slot;
    entry["readOnly"] = slot.readOnly;
    entry["firmware"] = utf8FromLatin1(slot.firmware);
    slots.push_back(std::move(entry));
  }
  Json out = Json::object();
  out["id"] = drive.id;
  out["requests"] = std::move(requests);
  out["downloadedBytes"] = drive.downloadedBytes;
  out["stagedImageMatchesPackage"] = drive.stagedImageMatchesPackage;
  out["slots"] = std::move(slots);
  out["runningFirmware"] = utf8FromLatin1(drive.runningFirmware);
  out["firmwareAfterReset"] = utf8FromLatin1(drive.firmwareAfterReset);
  return out;
}

}  // namespace

std::string utf8FromLatin1(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    appendUtf8(out, static_cast<unsigned char>(c));
  }
  return out;
}

std::string utf8FromWideCString(std::wstring_view text) {
  return utf8FromWide(text.substr(0, text.find(L'\0')));
}

std::string eventTypeName(std::uint16_t type) {
  switch (type) {
    case win::kEventlogErrorType:
      return "error";
    case win::kEventlogWarningType:
      return "warning";
    case win::kEventlogInformationType:
      return "information";
    case win::kEventlogSuccess:
      return "success";
    case win::kEventlogAuditSuccess:
      return "auditSuccess";
    case win::kEventlogAuditFailure:
      return "auditFailure";
    default:
      return std::to_string(type);
  }
}

std::string formatReport(std::int32_t exitStatus, const std::vector<MessageBoxRecord>& boxes,
                         const std::vector<EventRecord>& events, std::uint32_t handlesLeftOpen,
                         const std::vector<DriveReport>& drives) {
  Json report = Json::object();
  report["exitStatus"] = exitStatus;
  Json shown = Json::array();
  for (const MessageBoxRecord& box : boxes) {
    Json entry = Json::object();
    entry["caption"] = utf8FromWideCString(box.caption);
    entry["text"] = utf8FromWideCString(box.text);
    shown.push_back(std::move(entry));
  }
  report["messageBoxes"] = std::move(shown);
  Json written = Json::array();
  for (const EventRecord& event : events) {
    Json entry = Json::object();
    entry["source"] = utf8FromWideCString(event.source);
    entry["type"] = eventTypeName(event.type);
    entry["id"] = event.id;
    entry["text"] = utf8FromWideCString(event.text);
    written.push_back(std::move(entry));
  }
  report["events"] = std::move(written);
  report["handlesLeftOpen"] = handlesLeftOpen;
  Json driveList = Json::array();
  for (const DriveReport& drive : drives) {
    driveList.push_back(driveJson(drive));
  }
  report["drives"] = std::move(driveList);
  // Drive ids come from the machine file as ASCII and every other text is
  // built above as UTF-8, so the strict handler never fires; replace keeps a
  // report even if one did.
  return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string reportJson(const Machine& machine, std::int32_t exitStatus) {
  return formatReport(exitStatus, machine.messageBoxes(), machine.events(),
                      machine.handlesLeftOpen(), machine.driveReports());
}

}  // namespace zevsim
