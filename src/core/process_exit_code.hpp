// The process's exit code: the run's exit status as the package states it,
// or, on request ("/rc=msi"), in the codes that Windows Installer and the
// deployment tools that follow it know by default.
#pragma once

#include <cstdint>

#include "core/run_result.hpp"
#include "core/update_context.hpp"

namespace zev {

// A check's statuses, and every status in the package's own style, pass
// unchanged. A rejected command line is no check: nothing ran.
std::int32_t processExitCode(ExitCodeStyle style, RunMode mode, RunEnd end,
                             std::int32_t exitStatus);
// The exit code of an accepted run, from its style, mode, end and final
// result.
std::int32_t processExitCode(const UpdateContext& context);

}  // namespace zev
