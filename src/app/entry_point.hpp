// The package's entry point, shared by the Windows executable's wmain and the
// simulated machine's launcher.
#pragma once

#include <cstdint>

namespace zev {

// Runs the whole package with the wide argument vector; returns the process's
// exit code: the exit status (0, 1 or 1602; a check's 0, 2 or 1), or with
// "/rc=msi" an update's in Windows Installer's codes.
std::int32_t packageMain(int argc, const wchar_t* const* argv);

}  // namespace zev
