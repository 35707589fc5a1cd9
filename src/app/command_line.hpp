// The command line: the silent switch "/s" and the log option
// "/log=<FILEPATH>".
#pragma once

#include "core/update_context.hpp"

namespace zev {

// 1 when the command line is accepted, 0 when it is rejected (after the usage
// block or the invalid-path line).
int parseCommandLine(UpdateContext& context, int argc, const wchar_t* const* argv);
// True when context.logPath can be opened for writing; the file then exists.
// An existing file keeps its content: only the results step of an accepted
// run replaces it.
bool validateLogPath(const UpdateContext& context);
void printUsage();

}  // namespace zev
