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

bool findIntelRaidController(RaidControllerInfo& controller);
// Appends IrstRaid and IrstNonRaid candidates; 1 when the enumeration ran to
// its end, 0 when the disk set is unavailable or a non-RAID disk fails to open.
int enumerateIntelControllerDisks(const RaidControllerInfo& controller, DiskList& candidates);
// The bus number from the disk's location information, or -1.
std::int32_t readDiskBusNumber(std::uint32_t devInst);
// The bus number in a disk's location text ("Bus Number 2, Target Id 0, LUN
// 0" gives 2); -1 when the text lacks "Bus Number " or the blanks the rule
// steps over.
std::int32_t busNumberFromLocation(std::wstring_view location);

}  // namespace zev
