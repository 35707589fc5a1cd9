// The run sequence. Each phase runs once, in order; a failure on one drive
// never stops the others.
#include "app/run_sequence.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

#include "core/firmware_image.hpp"
#include "discovery/inbox_enumeration.hpp"
#include "discovery/inbox_identify.hpp"
#include "discovery/intel_controller.hpp"
#include "discovery/intel_identify.hpp"
#include "discovery/vroc_scan.hpp"
#include "update/revision_gate.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

constexpr std::uint32_t kImageTransferLength = 0x200000;

void identifyCandidates(DiskInventory& inventory, std::int32_t& vrocScsiPort) {
  // The k-th RAID volume disk queries RAID set k, so that every volume's
  // members are identified once.
  std::uint32_t raidSetIndex = 0;
  for (const DiskInfo& candidate : inventory.candidates) {
    switch (candidate.driverKind) {
      case DriverKind::IrstNonRaid:
      case DriverKind::IrstRaid:
        // A failed identification of a single disk behind the controller is
        // not counted: a SATA disk or another maker's drive fails it by design.
        if (candidate.driverKind == DriverKind::IrstNonRaid) {
          identifyIntelPassThroughDisk(candidate, inventory.identified);
        } else if (queryCsmiRaidConfig(candidate, inventory.identified, raidSetIndex++) != 0) {
          inventory.unexamined.push_back({candidate.devicePath, 0, true});
        }
        if (inventory.identified.empty()) {
          scanVrocDisks(candidate, inventory.identified, vrocScsiPort);
        }
        break;
      case DriverKind::Inbox:
        if (identifyInboxDisk(candidate, inventory.identified) != 0) {
          inventory.unexamined.push_back({candidate.devicePath, 0, false});
        }
        break;
      default:
        break;
    }
  }
  // Under the VROC driver the CSMI query fails by design and the scan finds
  // the volumes' members instead: then no volume went unexamined.
  const bool vrocFoundMembers =
      std::any_of(inventory.identified.begin(), inventory.identified.end(),
                  [](const DiskInfo& disk) { return disk.driverKind == DriverKind::VrocRaid; });
  if (vrocFoundMembers) {
    std::erase_if(inventory.unexamined, [](const UnexaminedDisk& disk) { return disk.raidVolume; });
  }
}

}  // namespace

void runSequence(DiskInventory& inventory, UpdateContext& context) {
  RaidControllerInfo controller;
  if (findIntelRaidController(controller)) {
    enumerateIntelControllerDisks(controller, inventory.candidates, inventory.unexamined);
  }
  enumerateInboxNvmeDisks(inventory.candidates, inventory.unexamined);
  if (inventory.candidates.empty()) {
    return;
  }

  std::int32_t vrocScsiPort = -1;
  identifyCandidates(inventory, vrocScsiPort);

  selectUpdateDisks(inventory.identified, context.updateList);
  if (context.updateList.empty()) {
    return;
  }

  const std::span<const std::uint8_t> image = packageImage();
  std::uint32_t transferLength = 0;
  for (DiskInfo& disk : context.updateList) {
    transferLength = kImageTransferLength;
    switch (disk.driverKind) {
      case DriverKind::Inbox:
        disk.resultCode = updateThroughInbox(disk, image, transferLength);
        break;
      case DriverKind::VrocRaid:
      case DriverKind::VrocNonRaid:
        disk.resultCode = updateThroughVroc(disk, image, transferLength, vrocScsiPort);
        break;
      default:
        disk.resultCode = updateThroughIrst(disk, image, transferLength);
        break;
    }
  }
}

}  // namespace zev
