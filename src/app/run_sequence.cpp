// The run sequence. Each phase runs once, in order; a failure on one drive
// never stops the others.
#include "app/run_sequence.hpp"

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
        if (candidate.driverKind == DriverKind::IrstNonRaid) {
          identifyIntelPassThroughDisk(candidate, inventory.identified);
        } else {
          queryCsmiRaidConfig(candidate, inventory.identified, raidSetIndex++);
        }
        if (inventory.identified.empty()) {
          scanVrocDisks(candidate, inventory.identified, vrocScsiPort);
        }
        break;
      case DriverKind::Inbox:
        identifyInboxDisk(candidate, inventory.identified);
        break;
      default:
        break;
    }
  }
}

}  // namespace

void runSequence(DiskInventory& inventory, UpdateContext& context) {
  RaidControllerInfo controller;
  if (findIntelRaidController(controller)) {
    enumerateIntelControllerDisks(controller, inventory.candidates);
  }
  enumerateInboxNvmeDisks(inventory.candidates);
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
