// The IRST ("IntelFw " download and activate, ReturnCode) and VROC (NVMe
// pass-through download and commit, ReturnCode and CplEntry[3]) update paths
// on disks identified by the real driver, then updated with a hostile one;
// then the check's slot read ("IntelFw " GET_INFO, the Firmware Slot
// Information log) on the same hostile driver.
#include <string>
#include <string_view>

#include "core/disk_info.hpp"
#include "core/firmware_image.hpp"
#include "discovery/intel_identify.hpp"
#include "discovery/vroc_scan.hpp"
#include "fuzz_machine.hpp"
#include "fuzz_machines.hpp"
#include "fuzz_targets.hpp"
#include "update/update_paths.hpp"
#include "update_checks.hpp"
#include "zevsim/machine_view.hpp"

int zevFuzzIntelUpdate(const std::uint8_t* data, std::size_t size) {
  zevfuzz::ByteSource source(data, size);
  const std::uint8_t choice = source.byte();
  const std::string_view machines[] = {zevfuzz::kIrstMachine, zevfuzz::kVrocMachine,
                                       zevfuzz::kVrocPassThroughMachine};
  const bool vroc = choice % 3 != 0;
  zevfuzz::FuzzMachine sim(machines[choice % 3], source);
  sim.setHostile(false);
  const std::string& path =
      zevsim::MachineView(sim.machine()).config().intelController->interfacePath;
  zev::DiskInfo candidate;
  candidate.devicePath.assign(path.begin(), path.end());
  candidate.driverKind = zev::DriverKind::IrstRaid;
  zev::DiskList identified;
  std::int32_t port = -1;
  if (vroc) {
    zev::scanVrocDisks(candidate, identified, port);
  } else {
    zev::queryCsmiRaidConfig(candidate, identified, 0);
    zev::DiskInfo passThrough = candidate;
    passThrough.driverKind = zev::DriverKind::IrstNonRaid;
    passThrough.pathId = 3;
    zev::identifyIntelPassThroughDisk(passThrough, identified);
  }
  if (identified.size() < 2) {
    zevfuzz::invariantBroken("the healthy Intel drives were not identified");
  }
  const zev::DiskInfo& disk = identified[(choice >> 4) % identified.size()];
  sim.setHostile(true);
  std::uint32_t transferLength = 0x200000;
  const int result = vroc ? zev::updateThroughVroc(disk, transferLength, port, zev::packageImage(),
                                                   zev::buildPackageIdentity())
                                .code
                          : zev::updateThroughIrst(disk, transferLength, zev::packageImage(),
                                                   zev::buildPackageIdentity())
                                .code;
  zevfuzz::checkUpdateOutcome(sim, result);
  zevfuzz::checkSlotRead(sim, vroc ? zev::readVrocSlots(disk, port) : zev::readIrstSlots(disk));
  return 0;
}
