// zev-sim: runs the package's entry point in-process on a simulated machine.
//
//   zev-sim [--machine FILE] [--report FILE] [--clock YYYY-MM-DDThh:mm:ss]
//           [--argv0 TEXT] [--] [package arguments...]
//
// Standard output carries the package's output only; everything of the
// launcher's own (message boxes, errors in the machine file or the options)
// goes to standard error.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zevsim/machine.hpp"
#include "zevsim/utf8.hpp"

namespace zevlauncher {

struct LauncherOptions {
  std::optional<std::string> machinePath;  // absent: the demonstration machine
  std::optional<std::string> reportPath;
  std::optional<zevsim::LocalTime> clock;  // absent: the host's local time
  std::wstring argv0;                      // the package's argument 0
  std::vector<std::wstring> packageArgs;   // its arguments after argument 0
};

struct ParsedOptions {
  std::optional<LauncherOptions> options;
  std::string problem;  // when options is empty: what is wrong, one line
};

// args[0] is the launcher's own path. The launcher's options come first; the
// package's arguments start at "--" or at the first argument that does not
// begin with "--". An unknown option, a missing or bad value, or an option
// given twice is a problem.
ParsedOptions parseLauncherOptions(const std::vector<std::wstring>& args);

// YYYY-MM-DDThh:mm:ss, a real calendar date and time of day.
std::optional<zevsim::LocalTime> parseClock(std::string_view text);

// "[message box] <caption>: <text>" and a line break (none added when the text
// already ends in one). Caption and text end at their first zero character,
// as MessageBoxW reads them.
std::string messageBoxLine(const zevsim::MessageBoxRecord& box);

// Returns the process exit status: the package's status, or 2 for a machine
// file, report file or launcher option that cannot be used (the package is
// then not run) and for a report that cannot be written after the run. The
// launcher's own lines go to errors.
int runLauncher(const std::vector<std::wstring>& args, std::ostream& errors);
// The same, with the launcher's lines on standard error.
int runLauncher(const std::vector<std::wstring>& args);

// UTF-8 text to wide text and back, as the simulator encodes it.
using zevsim::utf8FromWide;
using zevsim::wideFromUtf8;

}  // namespace zevlauncher
