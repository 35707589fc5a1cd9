// The VROC scan: probes the SCSI ports for the VROC driver and identifies the
// drives it lists.
#pragma once

#include <cstdint>
#include <vector>

#include "core/counted_open.hpp"
#include "core/disk_info.hpp"

namespace zev {

struct VrocScan {
  // 0, or -1 when a buffer could not be allocated.
  int code = 0;
  // The port that answered reported a RAID volume.
  bool raidVolumeReported = false;
  // What the port's driver listed and could not be examined: a drive whose
  // Identify failed ("\\.\ScsiN: vrocDiskId:" + its id), a list that could
  // not be read ("\\.\ScsiN:"), the RAID volumes after the first ("RAID
  // volumes 2 to k of \\.\ScsiN:").
  UnexaminedList unexamined;
  // Every drive the port listed, in list order.
  std::vector<ObservedVrocEntry> entries;
  // The list request the port did not serve, and the members the volume
  // information counted that no list named.
  std::optional<ObservedListFailure> listFailure;
  std::uint32_t unlistedMembers = 0;
};

// Sets vrocScsiPort to the port that answered. The "dwError" lines it prints
// are no diagnostics; a failed Identify prints its error line. The ports'
// opens are counted in opens when given.
VrocScan scanVrocDisks(DiskInfo candidate, DiskList& identified, std::int32_t& vrocScsiPort,
                       DeviceOpens* opens = nullptr);

}  // namespace zev
