// The built-in demonstration machine: the machine a run without --machine
// uses. It is kept as machine-file text (the same as
// examples/machines/demo.json) and read by the loader, so it gets exactly the
// defaults a file would get.
#include <cstdio>
#include <cstdlib>

#include "zevsim/machine_file.hpp"

namespace zevsim {

namespace {

constexpr std::string_view kDemonstrationMachine = R"json(
{
  "description": "The built-in demonstration machine: one inbox TQ270c on an upgradable revision, one inbox drive of another maker, and an IRST RAID 1 of two TQ270c drives on an upgradable revision, one of which asks for a power cycle.",
  "drives": [
    { "id": "boot", "firmware": "KTW3LMZB" },
    { "id": "scratch", "model": "ORVANE NX500 512GB", "serial": "ORV5N21K0733419", "firmware": "4B2QJXD7" },
    { "id": "raid-a", "firmware": "KTW5LMZB" },
    { "id": "raid-b", "firmware": "KTW5LMZB", "activation": "powerCycle" }
  ],
  "inbox": [
    { "drive": "boot" },
    { "drive": "scratch",
      "parentInstanceId": "PCI\\VEN_1E4F&DEV_5013&SUBSYS_50131E4F&REV_01\\4&1C3F5E7A&0&00E9" }
  ],
  "intelController": {
    "driver": "irst",
    "raidVolumes": [
      { "members": [ { "drive": "raid-a", "port": 0 }, { "drive": "raid-b", "port": 1 } ] }
    ]
  }
}
)json";

}  // namespace

MachineConfig demonstrationMachine() {
  MachineFileResult loaded = parseMachineFile(kDemonstrationMachine, "<demonstration machine>");
  if (!loaded.config) {
    // The text is fixed and tested; failing here is a broken build.
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    std::abort();
  }
  return std::move(*loaded.config);
}

}  // namespace zevsim
