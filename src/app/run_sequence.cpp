// The run sequence. Each phase runs once, in order; a failure on one drive
// never stops the others.
#include "app/run_sequence.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

#include "core/driver_kind_row.hpp"
#include "core/firmware_image.hpp"
#include "core/result_codes.hpp"
#include "discovery/inbox_enumeration.hpp"
#include "discovery/inbox_identify.hpp"
#include "discovery/intel_controller.hpp"
#include "discovery/intel_identify.hpp"
#include "discovery/vroc_scan.hpp"
#include "report/console.hpp"
#include "report/install_log.hpp"
#include "update/check_verdict.hpp"
#include "update/driver_kinds.hpp"
#include "update/revision_gate.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

constexpr std::uint32_t kImageTransferLength = 0x200000;

// The enumerations' not-examined entries, handed out in discovery order: each
// before the candidate that followed it.
class EnumeratedUnexamined {
 public:
  explicit EnumeratedUnexamined(UnexaminedList entries) : entries_(std::move(entries)) {}
  // Moves to out every entry met before candidate `position` was appended.
  void takeUpTo(std::size_t position, UnexaminedList& out) {
    while (next_ < entries_.size() && entries_[next_].candidatesBefore <= position) {
      out.push_back(std::move(entries_[next_++]));
    }
  }

 private:
  UnexaminedList entries_;
  std::size_t next_ = 0;
};

// What identification carries from one candidate to the next.
struct IdentificationState {
  // The k-th RAID volume disk queries RAID set k, so that every volume's
  // members are identified once.
  std::uint32_t raidSetIndex = 0;
  std::int32_t vrocScsiPort = -1;
  // The VROC scan found a port that reports a RAID volume.
  bool vrocRaidPort = false;
};

// The VROC scan after an Intel candidate, while nothing is identified and no
// port has answered yet; its entries stand with the candidate.
void scanVrocAfter(DiskInventory& inventory, std::size_t position, IdentificationState& state) {
  if (!inventory.identified.empty() || state.vrocScsiPort != -1) {
    return;
  }
  VrocScan scan = scanVrocDisks(inventory.candidates[position], inventory.identified,
                                state.vrocScsiPort, &inventory.observation.opens);
  state.vrocRaidPort = state.vrocRaidPort || scan.raidVolumeReported;
  if (state.vrocScsiPort != -1) {
    inventory.observation.vrocPort = state.vrocScsiPort;
    inventory.observation.vrocEntries = std::move(scan.entries);
    inventory.observation.vrocListFailure = scan.listFailure;
    inventory.observation.vrocUnlistedMembers = scan.unlistedMembers;
  }
  for (UnexaminedDisk& disk : scan.unexamined) {
    disk.candidatesBefore = position;
    inventory.unexamined.push_back(std::move(disk));
  }
}

// Identifies one candidate by its kind; a failure that leaves a disk not
// examined is set aside in unexamined.
void identifyCandidate(DiskInventory& inventory, std::size_t position, IdentificationState& state) {
  const DiskInfo& candidate = inventory.candidates[position];
  const auto setAside = [&](const StepOutcome& failed, bool raidVolume) {
    inventory.unexamined.push_back({candidate.devicePath, failed.systemError, raidVolume,
                                    failed.diagnostic, position, failed.failedRequest});
  };
  switch (candidate.driverKind) {
    case DriverKind::IrstNonRaid:
    case DriverKind::IrstRaid:
      // A failed identification of a single disk behind the controller is
      // not counted: a SATA disk or another maker's drive fails it by design.
      if (candidate.driverKind == DriverKind::IrstNonRaid) {
        observeIntelIdentify(&inventory.observation, candidate.pathId,
                             identifyIntelPassThroughDisk(candidate, inventory.identified,
                                                          &inventory.observation.opens));
      } else if (const StepOutcome queried = queryCsmiRaidConfig(
                     candidate, inventory.identified, state.raidSetIndex++, &inventory.observation);
                 queried.code != 0) {
        setAside(queried, true);
      }
      scanVrocAfter(inventory, position, state);
      break;
    case DriverKind::Inbox:
      if (const StepOutcome identified = identifyInboxDisk(candidate, inventory.identified);
          identified.code != 0) {
        setAside(identified, false);
      }
      break;
    default:
      break;
  }
}

std::int32_t identifyCandidates(DiskInventory& inventory) {
  EnumeratedUnexamined enumerated(std::move(inventory.unexamined));
  inventory.unexamined.clear();
  IdentificationState state;
  for (std::size_t position = 0; position < inventory.candidates.size(); ++position) {
    enumerated.takeUpTo(position, inventory.unexamined);
    identifyCandidate(inventory, position, state);
  }
  enumerated.takeUpTo(inventory.candidates.size(), inventory.unexamined);
  // Under the VROC driver the CSMI query fails by design and the scan lists
  // the volume's drives instead (or sets them aside): then the volume disks
  // are accounted for.
  if (state.vrocRaidPort) {
    std::erase_if(inventory.unexamined, [](const UnexaminedDisk& disk) { return disk.raidVolume; });
  }
  return state.vrocScsiPort;
}

// Discovery and identification, shared by the update and the check; the
// SCSI port of the VROC driver, or -1.
std::int32_t discoverAndIdentify(DiskInventory& inventory) {
  RaidControllerInfo controller;
  MachineObservation& observation = inventory.observation;
  if (findIntelRaidController(controller, inventory.unexamined, &observation)) {
    enumerateIntelControllerDisks(controller, inventory.candidates, inventory.unexamined,
                                  &observation);
  }
  enumerateInboxNvmeDisks(inventory.candidates, inventory.unexamined, &observation);
  return inventory.candidates.empty() ? -1 : identifyCandidates(inventory);
}

Decision updateDecision(std::int32_t resultCode) {
  if (resultCode == kResultSuccess) {
    return Decision::Updated;
  }
  return resultCode == kResultRebootRequired ? Decision::UpdatedNeedsPowerCycle : Decision::Failed;
}

DriveOutcome identifiedOutcome(const DiskInfo& disk, Decision decision) {
  DriveOutcome outcome;
  outcome.disk = disk;
  outcome.row = &driverKindRow(disk.driverKind);
  outcome.decision = decision;
  return outcome;
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

// The gate and the update of every selected drive. Every identified drive has
// its outcome in identified-list order; a selected drive's is recorded when
// its update returns.
void updateSelected(const DiskInventory& inventory, UpdateContext& context,
                    std::int32_t vrocScsiPort) {
  const std::vector<std::size_t> selected =
      selectUpdateDisks(inventory.identified, context.identity.imageRevision, context.updateList);
  const std::size_t first = context.outcomes.size();
  for (const DiskInfo& disk : inventory.identified) {
    context.outcomes.push_back(identifiedOutcome(disk, Decision::NotAccepted));
  }

  const std::span<const std::uint8_t> image = packageImage();
  std::uint32_t transferLength = 0;
  for (std::size_t k = 0; k < context.updateList.size(); ++k) {
    DiskInfo& disk = context.updateList[k];
    transferLength = kImageTransferLength;
    const StepOutcome result =
        driverKindRow(disk.driverKind)
            .update(disk, {image, transferLength, vrocScsiPort, context.identity});
    disk.resultCode = result.code;
    DriveOutcome& outcome = context.outcomes[first + selected[k]];
    outcome = identifiedOutcome(disk, updateDecision(result.code));
    outcome.resultCode = result.code;
    outcome.detail = result.diagnostic;
  }
}

}  // namespace

void runSequence(DiskInventory& inventory, UpdateContext& context) {
  const std::int32_t vrocScsiPort = discoverAndIdentify(inventory);
  if (!inventory.candidates.empty()) {
    updateSelected(inventory, context, vrocScsiPort);
  }
  appendUnexamined(inventory, context);
}

void runCheck(DiskInventory& inventory, UpdateContext& context) {
  const std::int32_t vrocScsiPort = discoverAndIdentify(inventory);
  const PackageIdentity& identity = context.identity;
  for (const DiskInfo& disk : inventory.identified) {
    printTargetDiskBlock(disk, identity);
    const bool accepted = revisionAccepted(disk.firmwareRevision, identity.imageRevision);
    const DriverKindRow& row = driverKindRow(disk.driverKind);
    // A slot read that fails leaves the verdict to the revision alone: a
    // check is never less usable than the update it stands for.
    const SlotRead read =
        accepted ? row.readSlots(disk, vrocScsiPort, &inventory.observation.opens) : SlotRead{};
    if (accepted) {
      inventory.observation.slotReads.push_back(
          {static_cast<std::size_t>(&disk - inventory.identified.data()), read.slots,
           read.step.failedRequest, read.openNth});
    }
    DriveOutcome outcome =
        identifiedOutcome(disk, checkVerdict(disk, accepted, read, identity.imageRevision));
    if (read.updateNotPossible) {
      outcome.detail = *read.updateNotPossible;
    } else if (accepted && !read.slots) {
      outcome.detail = "Firmware slots could not be read.";
    }
    narrowOut << "  [CHECK] " << checkVerdictText(outcome, identity) << endLine << endLine;
    context.outcomes.push_back(std::move(outcome));
  }
  appendUnexamined(inventory, context);
}

}  // namespace zev
