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

MachineFileResult loadMachineFile(const std::string& path);
MachineFileResult parseMachineFile(std::string_view text, const std::string& fileName);

// The built-in demonstration machine: one inbox TQ270c on an upgradable
// revision, one inbox drive of another maker, and an IRST RAID 1 of two TQ270c
// drives on an upgradable revision, one of which asks for a power cycle.
MachineConfig demonstrationMachine();

}  // namespace zevsim
