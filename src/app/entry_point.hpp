// The package's entry point, shared by the Windows executable's wmain and the
// simulated machine's launcher.
#pragma once

#include <cstdint>

namespace zev {

// Runs the whole package with the wide argument vector; returns the exit
// status (0, 1 or 1602).
std::int32_t packageMain(int argc, const wchar_t* const* argv);

}  // namespace zev
