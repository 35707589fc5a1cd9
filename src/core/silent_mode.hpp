// The silent switch's process-wide flag: set by the command line, read when
// the results are written (no message box). Reset at the start of every run.
#pragma once

namespace zev {

extern bool silentMode;

}  // namespace zev
