// Intel RAID controller detection and the disks behind it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/disk_info.hpp"

namespace zev {

struct RaidControllerInfo {
  bool found = false;
  std::wstring controllerPath;
  std::wstring instanceId;
};

// True when an Intel RAID controller was found, opened and its instance
// identifier read. A matching controller that cannot be opened, or whose
// instance identifier cannot be read, is set aside in unexamined after its
// error line: the disks behind it could not be looked at.
// With an observation, the storage ports it read and the controller it chose
// are recorded there.
bool findIntelRaidController(RaidControllerInfo& controller, UnexaminedList& unexamined,
                             MachineObservation* observation = nullptr);
// Appends IrstRaid and IrstNonRaid candidates, and sets aside in unexamined
// (after its error line) a non-RAID disk that cannot be opened; the
// enumeration goes on after it. 1 when the enumeration ran to its end, 0 when
// the disk set is unavailable.
// With an observation, every Intel-parented disk it met is recorded there.
int enumerateIntelControllerDisks(const RaidControllerInfo& controller, DiskList& candidates,
                                  UnexaminedList& unexamined,
                                  MachineObservation* observation = nullptr);
// The bus number from the disk's location information, or -1.
std::int32_t readDiskBusNumber(std::uint32_t devInst);
// The bus number in a disk's location text ("Bus Number 2, Target Id 0, LUN
// 0" gives 2); -1 when the text lacks "Bus Number " or the blanks the rule
// steps over.
std::int32_t busNumberFromLocation(std::wstring_view location);

}  // namespace zev
