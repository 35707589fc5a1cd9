// The results file of "/json=": the run's outcome per drive in a form a
// program reads (schema version 1, documented in the README).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/update_context.hpp"

namespace zev {

// The results of a finished run (context.finalResult is its exit status), as
// UTF-8 JSON text.
std::string composeResultsJson(const UpdateContext& context);

// One drive's fields as the results file gives them (an absent value is its
// null), for every other rendering of a drive's result to reuse: the drive
// texts without their trailing blanks, the detail widened from its bytes.
struct DriveFields {
  std::optional<std::string_view> driver;
  bool raid = false;
  std::wstring devicePath;
  std::optional<std::wstring> model;
  std::optional<std::wstring> serial;
  std::optional<std::wstring> firmware;
  std::string_view decision;
  std::optional<std::int32_t> resultCode;
  std::optional<std::wstring> detail;
};
DriveFields driveFields(const DriveOutcome& outcome);

// A local time as YYYY-MM-DDThh:mm:ss±hh:mm.
std::string isoTime(const platform::LocalTime& time);

}  // namespace zev
