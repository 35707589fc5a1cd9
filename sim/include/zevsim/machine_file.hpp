// Machine files: the JSON description of a simulated machine. The loader
// validates the whole schema (types, ranges, required keys, drive references,
// unknown keys) and applies every default.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "zevsim/machine_config.hpp"

namespace zevsim {

struct MachineFileResult {
  std::optional<MachineConfig> config;
  // When config is empty: "<file>: <JSON path>: <problem>", one line.
  std::string error;
};

// The largest machine file the loader reads: a larger one, or one that never
// ends (a device such as /dev/zero), is refused without being read whole.
inline constexpr std::size_t kMaxMachineFileBytes = std::size_t{64} << 20;

// Only a regular file is read: a FIFO, socket or device is refused (a
// FIFO without being opened, since its open waits for a writer).
MachineFileResult loadMachineFile(const std::string& path);
MachineFileResult parseMachineFile(std::string_view text, const std::string& fileName);

// A name or value echoed in a one-line message: a line break is shown as
// "\n" (and a carriage return as "\r"), so the message keeps its one line.
std::string shownOnOneLine(std::string_view text);

// The built-in demonstration machine: one inbox TQ270c on an upgradable
// revision, one inbox drive of another maker, and an IRST RAID 1 of two TQ270c
// drives on an upgradable revision, one of which asks for a power cycle.
MachineConfig demonstrationMachine();

}  // namespace zevsim
