// The run's entry in the Windows event log: its source, type, event id and
// text, composed from the run's result (core/run_result.hpp) and the drives'
// outcomes; it renders them and decides nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/run_result.hpp"
#include "core/update_context.hpp"
#include "platform/platform.hpp"

namespace zev {

// The Application log source of every version of the package, so that one
// filter in Event Viewer finds every run on a machine.
inline constexpr wchar_t kEventSource[] = L"ZEV_TQ270c";

// One event id per outcome (the registered message file shows ids 1 to 1000
// as their text itself).
inline constexpr std::uint32_t kEventUpdateSucceeded = 100;
inline constexpr std::uint32_t kEventUpdateNeedsPowerCycle = 101;
inline constexpr std::uint32_t kEventUpdateFailed = 102;
inline constexpr std::uint32_t kEventCheckUpdateAvailable = 200;
inline constexpr std::uint32_t kEventCheckNoUpdateNeeded = 201;
inline constexpr std::uint32_t kEventCheckFailed = 202;

// The longest string an event log entry carries, in UTF-16 units.
inline constexpr std::size_t kEventTextLimit = 31839;

struct EventEntry {
  platform::EventType type = platform::EventType::Error;
  std::uint32_t id = 0;
  std::wstring text;
};

// The entry of a finished run: the type and id of its mode and exit status,
// and the text: the package title, the mode, the exit status, the run's
// error if any, then one line per drive with the results file's fields
// (report/results_json.hpp), cut to kEventTextLimit.
EventEntry composeEventEntry(const UpdateContext& context, const RunResult& result);

// head's lines, then as many of driveLines as fit within limit UTF-16 units,
// each line whole, with CR LF between lines. When not every drive line fits,
// the last line says how many were left out, and the text with it stays
// within limit.
std::wstring eventTextWithin(std::span<const std::wstring> head,
                             std::span<const std::wstring> driveLines, std::size_t limit);

// The length of text in UTF-16 units, the event log's measure: a character
// beyond U+FFFF (one wchar_t where wchar_t has 32 bits) counts two.
std::size_t utf16Length(std::wstring_view text);

}  // namespace zev
