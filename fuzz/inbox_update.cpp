// The inbox update path (slot information, download pieces, activation and
// the FIRMWARE ReturnCode checks) on a disk identified by the real driver,
// then updated with a hostile inbox driver; then the check's slot read on the
// same hostile driver.
#include "core/disk_info.hpp"
#include "core/firmware_image.hpp"
#include "discovery/inbox_identify.hpp"
#include "fuzz_machine.hpp"
#include "fuzz_machines.hpp"
#include "fuzz_targets.hpp"
#include "update/update_paths.hpp"
#include "update_checks.hpp"

int zevFuzzInboxUpdate(const std::uint8_t* data, std::size_t size) {
  zevfuzz::ByteSource source(data, size);
  zevfuzz::FuzzMachine sim(zevfuzz::kInboxMachine, source);
  sim.setHostile(false);
  zev::DiskInfo candidate;
  candidate.devicePath = L"\\\\.\\PHYSICALDRIVE0";
  candidate.driverKind = zev::DriverKind::Inbox;
  zev::DiskList identified;
  if (zev::identifyInboxDisk(candidate, identified).code != 0) {
    zevfuzz::invariantBroken("the healthy inbox drive was not identified");
  }
  sim.setHostile(true);
  std::uint32_t transferLength = 0x200000;
  const int result = zev::updateThroughInbox(identified.front(), transferLength,
                                             zev::packageImage(), zev::buildPackageIdentity())
                         .code;
  zevfuzz::checkUpdateOutcome(sim, result);
  zevfuzz::checkSlotRead(sim, zev::readInboxSlots(identified.front()));
  return 0;
}
