// zev-sim: runs the package's entry point in-process on a simulated machine.
//
//   zev-sim [--machine FILE] [--report FILE] [--clock YYYY-MM-DDThh:mm:ss]
//           [--argv0 TEXT] [--] [package arguments...]
//
// Standard output carries the package's output only; everything of the
// launcher's own (message boxes, errors in the machine file) goes to standard
// error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zevlauncher {

// args[0] is the launcher's own path. Returns the process exit status: the
// package's status, or 2 for a machine file or launcher option that cannot be
// used.
int runLauncher(const std::vector<std::wstring>& args);

// UTF-8 text to wide text (invalid bytes become U+FFFD).
std::wstring wideFromUtf8(const std::string& text);
std::string utf8FromWide(const std::wstring& text);

}  // namespace zevlauncher
