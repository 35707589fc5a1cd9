// The report file: the run's exit status, message boxes, event log entries,
// handles left open and what every drive received.
#pragma once

#include <cstdint>
#include <string>

namespace zevsim {

class Machine;

std::string reportJson(const Machine& machine, std::int32_t exitStatus);

}  // namespace zevsim
