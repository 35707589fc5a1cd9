// The visible record of a run: the started line, the installation log, the
// final result, the ended line and the final message box.
#pragma once

#include <cstdint>
#include <string>

#include "core/update_context.hpp"

namespace zev {

// Local time as DD-MM-YYYY(hh:mm:ss).
std::string timeStamp();

void beginLog(UpdateContext& context);
// Composes the log text from updateList and sets context.finalResult.
std::string composeLog(UpdateContext& context);
// Composes and writes the log, prints the ended line, shows the message box
// unless silent; returns finalResult.
std::int32_t writeResults(UpdateContext& context);

}  // namespace zev
