// The table of driver kinds.
#include "update/driver_kinds.hpp"

#include <algorithm>
#include <array>

#include "update/slot_reads.hpp"
#include "update/update_paths.hpp"

namespace zev {

namespace {

StepOutcome inboxUpdate(const DiskInfo& disk, const UpdateRun& run) {
  return updateThroughInbox(disk, run.transferLength, run.image, run.identity);
}
StepOutcome irstUpdate(const DiskInfo& disk, const UpdateRun& run) {
  return updateThroughIrst(disk, run.transferLength, run.image, run.identity);
}
StepOutcome vrocUpdate(const DiskInfo& disk, const UpdateRun& run) {
  return updateThroughVroc(disk, run.transferLength, run.vrocScsiPort, run.image, run.identity);
}
SlotRead inboxSlots(const DiskInfo& disk, std::int32_t, DeviceOpens*) {
  return readInboxSlots(disk);
}
SlotRead irstSlots(const DiskInfo& disk, std::int32_t, DeviceOpens* opens) {
  return readIrstSlots(disk, opens);
}

// kind, driver line, RAID line, RAID member, results name, update, slot read
constexpr std::array<DriverKindRow, 6> kRows{{
    {DriverKind::None, L"IRST Driver", true, false, "irst", irstUpdate, irstSlots},
    {DriverKind::IrstRaid, L"IRST Driver", true, true, "irst", irstUpdate, irstSlots},
    {DriverKind::IrstNonRaid, L"IRST Driver", true, false, "irst", irstUpdate, irstSlots},
    {DriverKind::Inbox, L"Inbox Driver", true, false, "inbox", inboxUpdate, inboxSlots},
    {DriverKind::VrocRaid, L"VROC Driver", false, true, "vroc", vrocUpdate, readVrocSlots},
    {DriverKind::VrocNonRaid, L"VROC Driver", false, false, "vroc", vrocUpdate, readVrocSlots},
}};

}  // namespace

const DriverKindRow& driverKindRow(DriverKind kind) {
  const auto row = std::find_if(kRows.begin(), kRows.end(),
                                [kind](const DriverKindRow& r) { return r.kind == kind; });
  return row != kRows.end() ? *row : kRows.front();
}

}  // namespace zev
