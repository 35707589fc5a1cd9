// The results file of "/json=": the run's outcome per drive in a form a
// program reads (schema version 1, documented in the README).
#pragma once

#include <string>
#include <string_view>

#include "core/update_context.hpp"

namespace zev {

// The results of a finished run (context.finalResult is its exit status), as
// UTF-8 JSON text.
std::string composeResultsJson(const UpdateContext& context);

// Wide text as UTF-8 (a surrogate pair is one character; a character that is
// not a Unicode scalar value becomes U+FFFD).
std::string utf8FromWide(std::wstring_view text);

// A local time as YYYY-MM-DDThh:mm:ss±hh:mm.
std::string isoTime(const platform::LocalTime& time);

}  // namespace zev
