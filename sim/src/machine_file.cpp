// STUB: replaced by the machine-file work.
#include "zevsim/machine_file.hpp"
namespace zevsim {
MachineFileResult loadMachineFile(const std::string& path) {
  return {std::nullopt, path + ": $: machine files are not read yet"};
}
MachineFileResult parseMachineFile(std::string_view, const std::string& fileName) {
  return {std::nullopt, fileName + ": $: machine files are not read yet"};
}
MachineConfig demonstrationMachine() {
  return {};
}
}  // namespace zevsim
