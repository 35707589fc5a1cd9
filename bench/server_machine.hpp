// Machine files of simulated servers for the benchmarks: a number of TQ270c
// drives on the inbox NVMe driver, in IRST RAID 1 volumes of two drives, and
// as IRST pass-through disks, all running one firmware revision.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zevbench {

struct ServerLayout {
  std::uint32_t inboxDrives = 0;
  std::uint32_t raidVolumes = 0;  // RAID 1, two member drives each
  std::uint32_t passThroughDrives = 0;
  std::string_view firmware = "KTW3LMZB";

  constexpr std::uint32_t driveCount() const {
    return inboxDrives + 2 * raidVolumes + passThroughDrives;
  }
  // One disk device per inbox drive, per RAID volume and per pass-through
  // drive.
  constexpr std::uint32_t diskDeviceCount() const {
    return inboxDrives + raidVolumes + passThroughDrives;
  }
};

// A machine file of many drives for the loading benchmark: `drives` drives
// with model, serial and firmware given, the first half of them attached as
// inbox disks (each with the defaults derived: identifiers, interface paths,
// device numbers) and the rest listed only.
std::string manyDrivesMachineJson(std::uint32_t drives);

// The machine file (JSON) of the layout. The IRST path ids (pass-through bus
// numbers, then member ports) are 0, 1, 2, ...; they must stay below 256.
std::string serverMachineJson(const ServerLayout& layout);

}  // namespace zevbench
