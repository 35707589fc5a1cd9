// What discovery and the check read of the machine on their way, beside the
// disk records: the devices' properties, the Intel controller and what its
// driver answered, and the slot reads. Filled as the steps go; a capture
// ("/capture=") renders it as a machine file, nothing else reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/counted_open.hpp"
#include "core/slot_state.hpp"
#include "core/step_outcome.hpp"

namespace zev {

// A device property as a step met it: not asked for (nothing), asked for and
// absent (an empty inner value), or its value.
template <class T>
using ReadProperty = std::optional<std::optional<T>>;

// A disk device of the disk interface class that the inbox enumeration met
// (not one parented by an Intel device), with the properties it read.
struct ObservedInboxDisk {
  ReadProperty<std::wstring> parentInstanceId;
  ReadProperty<std::vector<std::wstring>> hardwareIds;
  ReadProperty<std::wstring> instanceId;
  std::optional<std::wstring> interfacePath;
  std::optional<std::uint32_t> deviceNumber;
};

// A storage-port device whose properties the controller detection read.
struct ObservedController {
  std::wstring interfacePath;
  ReadProperty<std::wstring> instanceId;
  ReadProperty<std::wstring> driverDesc;
};

// A disk parented by the Intel controller: a RAID volume disk, or a
// pass-through disk with the location text its bus number came from.
struct ObservedIntelDisk {
  // Its member index in the disk set the walk went through.
  std::uint32_t listIndex = 0;
  bool raidVolume = false;
  ReadProperty<std::wstring> instanceId;
  std::optional<std::wstring> interfacePath;
  ReadProperty<std::wstring> locationInfo;
  // The bus number discovery took from the location text, or -1.
  std::int64_t busNumber = -1;
  // The pass-through disk opened; else the open's failure.
  std::optional<FailedRequest> openFailure;
};

// One CSMI RAID configuration query: the member ports it reported, or the
// request that failed.
struct ObservedRaidVolume {
  std::vector<std::int64_t> memberPorts;
  std::optional<FailedRequest> failedRequest;
  // The CSMI requests the query sent (a second one when the first had room
  // for fewer members than the set has).
  std::uint32_t csmiRequests = 0;
};

// A drive the VROC driver listed: its disk id, path id and list-entry serial
// text, and how its Identify failed when it did.
struct ObservedVrocEntry {
  bool raidMember = false;
  std::uint32_t diskId = 0;
  std::int64_t pathId = -1;
  std::string listModel;   // the entry's 40 MN bytes
  std::string listSerial;  // the entry's first 20 serial bytes
  std::optional<FailedRequest> failedRequest;
};

// An Intel Identify the driver did not answer: the path id and how it failed.
struct ObservedIdentifyFailure {
  std::int64_t pathId = -1;
  FailedRequest failedRequest;
};

// A VROC list request the driver did not serve: how it failed, and which of
// the port's list requests it was (from 1).
struct ObservedListFailure {
  FailedRequest failedRequest;
  std::uint32_t nth = 0;
};

// The slot read of one identified drive (identified-list position).
struct ObservedSlotRead {
  std::size_t identifiedIndex = 0;
  std::optional<SlotState> slots;
  std::optional<FailedRequest> failedRequest;
  // The read's own open among the counted opens of the device it opened (the
  // Intel controller's path, the VROC port); 0 when it opened neither.
  std::uint32_t openNth = 0;
};

struct MachineObservation {
  // The package's own module handle could not be had.
  bool moduleHandleFails = false;
  // Another run held the system-wide run guard.
  bool runGuardHeld = false;
  std::vector<ObservedInboxDisk> inboxDisks;
  // The storage ports with Intel's vendor identifier in their path that the
  // detection read and passed over, in walk order.
  std::vector<ObservedController> otherControllers;
  std::optional<ObservedController> intelController;
  // The Intel controller's own failures (its open, a CSMI request).
  std::vector<FailedRequest> controllerFailures;
  std::vector<ObservedIntelDisk> intelDisks;
  std::vector<ObservedRaidVolume> raidVolumes;
  std::vector<ObservedIdentifyFailure> identifyFailures;
  // The VROC scan found a port that listed drives: the controller's driver is
  // the VROC driver; else the IRST driver, whose failures the run met.
  std::optional<std::int32_t> vrocPort;
  std::vector<ObservedVrocEntry> vrocEntries;
  std::optional<ObservedListFailure> vrocListFailure;
  // The members the volume information counted and no member list named.
  std::uint32_t vrocUnlistedMembers = 0;
  std::vector<ObservedSlotRead> slotReads;
  // Discovery's and the check's opens of the Intel controller's path and of
  // the SCSI ports.
  DeviceOpens opens;
};

}  // namespace zev
