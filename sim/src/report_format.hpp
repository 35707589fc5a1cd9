// The report file's JSON text from the values the machine reports, kept apart
// from the machine so that the layout can be checked on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zevsim/machine.hpp"

namespace zevsim {

// Pretty-printed with a two-space indent and a final line break.
std::string formatReport(std::int32_t exitStatus, const std::vector<MessageBoxRecord>& boxes,
                         const std::vector<EventRecord>& events, std::uint32_t handlesLeftOpen,
                         const std::vector<DriveReport>& drives);

// An event log entry's type as the report names it: "error", "warning",
// "information", "success", "auditSuccess" or "auditFailure" for the
// EVENTLOG_* values, the decimal number for any other.
std::string eventTypeName(std::uint16_t type);

// Drive bytes as text: each byte is the Latin-1 code point of its value.
std::string utf8FromLatin1(std::string_view bytes);

// Wide text up to its first zero character, as MessageBoxW reads its caption
// and text (both are C strings); characters that are not Unicode scalar values
// become U+FFFD.
std::string utf8FromWideCString(std::wstring_view text);

}  // namespace zevsim
