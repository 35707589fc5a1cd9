// The visible record of a run: the started line, the installation log, the
// final result, the ended line and the final message box.
#pragma once

#include <cstdint>
#include <string>

#include "core/update_context.hpp"

namespace zev {

// Local time as DD-MM-YYYY(hh:mm:ss).
std::string timeStamp();
std::string timeStamp(const platform::LocalTime& time);

void beginLog(UpdateContext& context);
// Composes the log text from updateList and sets context.finalResult.
std::string composeLog(UpdateContext& context);
// Composes and writes the log (and the results file), prints the ended line,
// shows the message box unless silent; returns finalResult.
std::int32_t writeResults(UpdateContext& context);

// A check verdict's text as the console prints it after "  [CHECK] " and the
// log after "Result Details : ".
std::string checkVerdictText(Decision decision);

// The check's log: the header, one block per identified drive with its
// verdict, the not-examined blocks and the final result (context.finalResult).
std::string composeCheckLog(const UpdateContext& context);
// Sets finalResult to exitStatus, writes the check's log and results file and
// prints the ended line; no message box. Returns exitStatus.
std::int32_t writeCheckResults(UpdateContext& context, std::int32_t exitStatus);

}  // namespace zev
