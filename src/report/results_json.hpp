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

// A local time as YYYY-MM-DDThh:mm:ss±hh:mm.
std::string isoTime(const platform::LocalTime& time);

}  // namespace zev
