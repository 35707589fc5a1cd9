// Intel RAID controller detection and the disks behind it.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/disk_info.hpp"

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

}  // namespace zev
