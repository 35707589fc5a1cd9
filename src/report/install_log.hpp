// The visible record of a run: the started line, the installation log, the
// results file, the ended line, the event log entry and the final message
// box. Each renders the run's result (core/run_result.hpp); none decides it.
#pragma once

#include <cstdint>
#include <string>

#include "core/run_result.hpp"
#include "core/update_context.hpp"

namespace zev {

// Local time as DD-MM-YYYY(hh:mm:ss).
std::string timeStamp();
std::string timeStamp(const platform::LocalTime& time);

void beginLog(UpdateContext& context);
// The update's log: the header, one block per drive an update was attempted
// on, the not-examined blocks and the final result.
std::string composeLog(const UpdateContext& context, const RunResult& result);
// The check's log: the header, one block per identified drive with its
// verdict, the not-examined blocks and the final result.
std::string composeCheckLog(const UpdateContext& context, const RunResult& result);
// Takes the end time, sets finalResult to the result's exit status, writes the
// log (an update's or a check's) and the results file, prints the ended line,
// writes the event log entry (report/event_entry.hpp; its failure is silent)
// and, after an update and unless silent, shows the message box. Returns
// finalResult.
std::int32_t writeResults(UpdateContext& context, const RunResult& result);

// A check verdict's text as the console prints it after "  [CHECK] " and the
// log after "Result Details : " (an update not possible names its reason,
// the outcome's detail).
std::string checkVerdictText(const DriveOutcome& outcome, const PackageIdentity& identity);

}  // namespace zev
