// The run's event log entry.
#include "report/event_entry.hpp"

#include <vector>

#include "core/result_codes.hpp"
#include "core/text.hpp"
#include "report/results_json.hpp"

namespace zev {

namespace {

using platform::EventType;

constexpr std::wstring_view kLineBreak = L"\r\n";

struct TypeAndId {
  EventType type;
  std::uint32_t id;
};

TypeAndId typeAndIdOf(bool check, std::int32_t exitStatus) {
  if (check) {
    if (exitStatus == kResultSuccess) {
      return {EventType::Information, kEventCheckUpdateAvailable};
    }
    if (exitStatus == kNoUpdateNeeded) {
      return {EventType::Information, kEventCheckNoUpdateNeeded};
    }
    return {EventType::Error, kEventCheckFailed};
  }
  if (exitStatus == kResultSuccess) {
    return {EventType::Information, kEventUpdateSucceeded};
  }
  if (exitStatus == kResultRebootRequired) {
    return {EventType::Warning, kEventUpdateNeedsPowerCycle};
  }
  return {EventType::Error, kEventUpdateFailed};
}

// Every value of the text goes through printableText: a zero character would
// end the string ReportEventW takes, a line break would forge a line.
std::wstring field(const std::optional<std::wstring>& text) {
  return text ? printableText(*text) : std::wstring(L"null");
}

std::wstring driveLine(std::size_t number, const DriveOutcome& outcome) {
  const DriveFields fields = driveFields(outcome);
  std::wstring line = L"Drive " + std::to_wstring(number) + L" : driver=";
  line += fields.driver ? widenBytes(*fields.driver) : std::wstring(L"null");
  line += L"; devicePath=" + printableText(fields.devicePath);
  line += L"; model=" + field(fields.model);
  line += L"; serial=" + field(fields.serial);
  line += L"; firmware=" + field(fields.firmware);
  line += L"; decision=" + widenBytes(fields.decision);
  line += L"; resultCode=" +
          (fields.resultCode ? std::to_wstring(*fields.resultCode) : std::wstring(L"null"));
  line += L"; detail=" + field(fields.detail);
  return line;
}

std::wstring leftOutLine(std::size_t count, std::size_t limit) {
  return std::to_wstring(count) + (count == 1 ? L" more drive" : L" more drives") +
         L" left out at the event log's limit of " + std::to_wstring(limit) + L" characters.";
}

// What line number index (from 0) adds to the text: a line break before every
// line but the first, and the line.
std::size_t addedLength(std::size_t index, std::wstring_view line) {
  return (index == 0 ? 0 : kLineBreak.size()) + utf16Length(line);
}

}  // namespace

std::size_t utf16Length(std::wstring_view text) {
  std::size_t units = 0;
  for (const wchar_t c : text) {
    // Nothing beyond U+FFFF fits a 16-bit wchar_t (UTF-16 already): the
    // shift keeps the test free of a comparison that is always false there.
    units += (static_cast<std::uint32_t>(c) >> 16) != 0 ? 2 : 1;
  }
  return units;
}

std::wstring eventTextWithin(std::span<const std::wstring> head,
                             std::span<const std::wstring> driveLines, std::size_t limit) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < head.size(); ++i) {
    length += addedLength(i, head[i]);
  }
  std::size_t all = length;
  for (std::size_t i = 0; i < driveLines.size(); ++i) {
    all += addedLength(head.size() + i, driveLines[i]);
  }
  std::size_t kept = driveLines.size();
  if (all > limit) {
    // The longest run of whole drive lines that leaves room for the line
    // saying how many were left out. The head is a few short lines of the
    // package's own (title, mode, status, run error): it always fits.
    kept = 0;
    while (kept < driveLines.size()) {
      const std::size_t next = length + addedLength(head.size() + kept, driveLines[kept]);
      const std::size_t rest = driveLines.size() - kept - 1;
      const std::size_t closing =
          rest == 0 ? 0 : addedLength(head.size() + kept + 1, leftOutLine(rest, limit));
      if (next + closing > limit) {
        break;
      }
      length = next;
      ++kept;
    }
  }
  std::vector<std::wstring_view> lines(head.begin(), head.end());
  lines.insert(lines.end(), driveLines.begin(),
               driveLines.begin() + static_cast<std::ptrdiff_t>(kept));
  const std::wstring closing =
      kept < driveLines.size() ? leftOutLine(driveLines.size() - kept, limit) : std::wstring();
  if (!closing.empty()) {
    lines.push_back(closing);
  }
  std::wstring text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      text += kLineBreak;
    }
    text += lines[i];
  }
  return text;
}

EventEntry composeEventEntry(const UpdateContext& context, const RunResult& result) {
  const TypeAndId kind = typeAndIdOf(context.checkOnly, result.exitStatus);
  std::vector<std::wstring> head = {
      printableText(context.identity.title),
      std::wstring(L"Mode : ") + (context.checkOnly ? L"check" : L"update"),
      L"Exit Status : " + std::to_wstring(result.exitStatus)};
  if (context.runError) {
    head.push_back(L"Error : " + printableText(widenBytes(*context.runError)));
  }
  std::vector<std::wstring> driveLines;
  driveLines.reserve(context.outcomes.size());
  for (const DriveOutcome& outcome : context.outcomes) {
    driveLines.push_back(driveLine(driveLines.size() + 1, outcome));
  }
  return {kind.type, kind.id, eventTextWithin(head, driveLines, kEventTextLimit)};
}

}  // namespace zev
