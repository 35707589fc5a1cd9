// The disk record that carries one drive through a run, the driver kinds, and
// the run's disk lists. Records are plain values: every step takes a copy and
// appends completed copies; lists keep insertion order and never merge
// duplicates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/machine_observation.hpp"
#include "core/step_outcome.hpp"
#include "records/identify_fields.hpp"

namespace zev {

// Which driver stack reaches a drive, and so which identification and update
// path handle it. Stored as a signed 32-bit value; discovery never produces
// None, and identification skips any value it does not know.
enum class DriverKind : std::int32_t {
  None = 0,
  IrstRaid = 1,
  IrstNonRaid = 2,
  Inbox = 3,
  VrocRaid = 4,
  VrocNonRaid = 5,
};

struct DiskInfo {
  std::wstring devicePath;
  std::int64_t pathId = -1;
  DriverKind driverKind = DriverKind::None;
  std::wstring modelNumber;
  std::wstring serialNumber;
  std::wstring firmwareRevision;
  std::int32_t updateGranularity = 1;
  std::uint32_t vrocDiskId = 0;
  std::int32_t resultCode = 0;
  // The Identify fields as the drive returned them, once it was identified.
  std::optional<identify::RawFields> identifyFields;
};

using DiskList = std::vector<DiskInfo>;

// A disk the package would have examined and could not: it could not be
// opened, its device number or Identify data could not be read, or (a RAID
// volume) its configuration could not be read. It is reported in the log and
// fails the run, so that no drive is ever skipped in silence.
struct UnexaminedDisk {
  std::wstring devicePath;
  std::uint32_t systemError = 0;  // the failing call's last error; 0 when none
  // A RAID volume whose CSMI configuration could not be read: it counts only
  // when the VROC scan identified no RAID member either (under the VROC driver
  // the CSMI query fails by design and the scan takes over).
  bool raidVolume = false;
  // The error line printed for it, without "  [ERROR] " and the line end.
  std::string detail;
  // How many candidates discovery had appended when it met this disk: an
  // entry of the enumerations stands before that candidate in discovery
  // order. Identification's entries stand with their own candidate.
  std::size_t candidatesBefore = 0;
  // The request that failed and how, when it was a request.
  std::optional<FailedRequest> failedRequest = std::nullopt;
  friend bool operator==(const UnexaminedDisk&, const UnexaminedDisk&) = default;
};

using UnexaminedList = std::vector<UnexaminedDisk>;

// What became of one drive, for the check log and the results file.
enum class Decision {
  Updated,                 // result 0
  UpdatedNeedsPowerCycle,  // result 1602
  Failed,                  // result 1 or 5
  NotAccepted,             // the revision gate refused it
  NotExamined,
  UpdateAvailable,     // check: the gate accepts it; after its next reset it runs another revision
  UpdatePendingReset,  // check: the pending slot holds the image's revision
  AlreadyCurrent,      // check: it runs the image's revision, nothing else pending
  UpdateNotPossible,   // check: the update's own slot request refuses it
};

struct DriverKindRow;

struct DriveOutcome {
  DiskInfo disk;  // for a disk not examined: its device path only
  // The row of the drive's driver kind; null for a disk not examined.
  const DriverKindRow* row = nullptr;
  Decision decision = Decision::NotExamined;
  std::optional<std::int32_t> resultCode;  // only when an update was attempted
  std::string detail;                      // empty: none
};

struct DiskInventory {
  DiskList candidates;
  DiskList identified;
  // After identification: in discovery order, each entry where its device
  // (in the enumerations) or its candidate (in identification) stands.
  UnexaminedList unexamined;
  // What discovery and the check read on their way, for a capture.
  MachineObservation observation;
};

}  // namespace zev
