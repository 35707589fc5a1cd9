// The run sequence. Each phase runs once, in order; a failure on one drive
// never stops the others.
#include "app/run_sequence.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "core/firmware_image.hpp"
#include "discovery/inbox_enumeration.hpp"
#include "discovery/inbox_identify.hpp"
#include "discovery/intel_controller.hpp"
#include "discovery/intel_identify.hpp"
#include "discovery/vroc_scan.hpp"
#include "report/console.hpp"
#include "report/install_log.hpp"
#include "update/check_verdict.hpp"
#include "update/revision_gate.hpp"
#include "update/slot_reads.hpp"
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
        } else {
          takeErrorLine();
          if (queryCsmiRaidConfig(candidate, inventory.identified, raidSetIndex++) != 0) {
            inventory.unexamined.push_back({candidate.devicePath, 0, true, takeErrorLine()});
          }
        }
        if (inventory.identified.empty()) {
          scanVrocDisks(candidate, inventory.identified, vrocScsiPort);
        }
        break;
      case DriverKind::Inbox:
        takeErrorLine();
        if (identifyInboxDisk(candidate, inventory.identified) != 0) {
          inventory.unexamined.push_back({candidate.devicePath, 0, false, takeErrorLine()});
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

// Discovery and identification, shared by the update and the check; the
// SCSI port of the VROC driver, or -1.
std::int32_t discoverAndIdentify(DiskInventory& inventory) {
  RaidControllerInfo controller;
  if (findIntelRaidController(controller)) {
    enumerateIntelControllerDisks(controller, inventory.candidates, inventory.unexamined);
  }
  enumerateInboxNvmeDisks(inventory.candidates, inventory.unexamined);
  std::int32_t vrocScsiPort = -1;
  if (!inventory.candidates.empty()) {
    identifyCandidates(inventory, vrocScsiPort);
  }
  return vrocScsiPort;
}

std::optional<SlotState> readSlots(const DiskInfo& disk, std::int32_t vrocScsiPort) {
  switch (disk.driverKind) {
    case DriverKind::Inbox:
      return readInboxSlots(disk);
    case DriverKind::VrocRaid:
    case DriverKind::VrocNonRaid:
      return readVrocSlots(disk, vrocScsiPort);
    default:
      return readIrstSlots(disk);
  }
}

Decision updateDecision(std::int32_t resultCode) {
  switch (resultCode) {
    case kResultSuccess:
      return Decision::Updated;
    case kResultRebootRequired:
      return Decision::UpdatedNeedsPowerCycle;
    default:
      return Decision::Failed;
  }
}

void appendUnexamined(const DiskInventory& inventory, UpdateContext& context) {
  for (const UnexaminedDisk& unexamined : inventory.unexamined) {
    DriveOutcome outcome;
    outcome.disk.devicePath = unexamined.devicePath;
    outcome.decision = Decision::NotExamined;
    outcome.detail = unexamined.detail;
    context.outcomes.push_back(std::move(outcome));
  }
}

}  // namespace

void runSequence(DiskInventory& inventory, UpdateContext& context) {
  const std::int32_t vrocScsiPort = discoverAndIdentify(inventory);
  if (inventory.candidates.empty()) {
    return;
  }

  selectUpdateDisks(inventory.identified, context.updateList);
  if (context.updateList.empty()) {
    return;
  }

  const std::span<const std::uint8_t> image = packageImage();
  std::uint32_t transferLength = 0;
  for (DiskInfo& disk : context.updateList) {
    transferLength = kImageTransferLength;
    takeErrorLine();
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
    disk.detail = takeErrorLine();
  }
}

void collectUpdateOutcomes(const DiskInventory& inventory, UpdateContext& context) {
  // The update list holds the accepted drives in identified-list order.
  std::size_t next = 0;
  for (const DiskInfo& disk : inventory.identified) {
    DriveOutcome outcome;
    if (revisionAccepted(disk.firmwareRevision) && next < context.updateList.size()) {
      const DiskInfo& updated = context.updateList[next++];
      outcome.disk = updated;
      outcome.decision = updateDecision(updated.resultCode);
      outcome.resultCode = updated.resultCode;
      outcome.detail = updated.detail;
    } else {
      outcome.disk = disk;
      outcome.decision = Decision::NotAccepted;
    }
    context.outcomes.push_back(std::move(outcome));
  }
  appendUnexamined(inventory, context);
}

void runCheck(DiskInventory& inventory, UpdateContext& context) {
  const std::int32_t vrocScsiPort = discoverAndIdentify(inventory);
  for (const DiskInfo& disk : inventory.identified) {
    printTargetDiskBlockOf(disk);
    const bool accepted = revisionAccepted(disk.firmwareRevision);
    // A slot read that fails leaves the verdict to the revision alone: a
    // check is never less usable than the update it stands for.
    const std::optional<SlotState> slots = accepted ? readSlots(disk, vrocScsiPort) : std::nullopt;
    DriveOutcome outcome;
    outcome.disk = disk;
    outcome.decision = checkVerdict(disk, accepted, slots, imageRevision);
    if (accepted && !slots) {
      outcome.detail = "Firmware slots could not be read.";
    }
    narrowOut << "  [CHECK] " << checkVerdictText(outcome.decision) << endLine << endLine;
    context.outcomes.push_back(std::move(outcome));
  }
  appendUnexamined(inventory, context);
}

std::int32_t checkExitStatus(const UpdateContext& context) {
  if (context.runError) {
    return kResultFailure;
  }
  bool available = false;
  for (const DriveOutcome& outcome : context.outcomes) {
    if (outcome.decision == Decision::NotExamined) {
      return kResultFailure;
    }
    available = available || outcome.decision == Decision::UpdateAvailable;
  }
  return available ? kResultSuccess : kNoUpdateNeeded;
}

}  // namespace zev
