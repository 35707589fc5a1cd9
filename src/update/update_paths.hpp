// update/: the revision gate, the piece plan and its one loop, and the three
// update paths. Includes report/, core/, records/ and platform/, never
// discovery/ or app/.
//
// The three update paths and the block that opens each drive's update. Each
// path returns a per-drive result code: 0 success, 1 failure, 5 a drive or
// port that cannot be opened or a failed request, 1602 downloaded and active
// only after a shutdown or power cycle.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/disk_info.hpp"
#include "core/result_codes.hpp"
#include "platform/platform.hpp"

namespace zev {

void printTargetDiskBlock(const DiskInfo& disk, std::wstring_view driverName, bool printRaidLine);
// The block as the drive's own update path prints it: its driver name, and
// the RAID line on the inbox and IRST paths.
void printTargetDiskBlockOf(const DiskInfo& disk);

// image: the package's image, read-only; transferLength of its bytes go out.
int updateThroughInbox(const DiskInfo& disk, std::span<const std::uint8_t> image,
                       std::uint32_t& transferLength);

int updateThroughIrst(const DiskInfo& disk, std::span<const std::uint8_t> image,
                      std::uint32_t& transferLength);
int irstDownload(platform::Handle handle, const DiskInfo& disk, std::span<const std::uint8_t> image,
                 std::uint32_t transferLength);
int irstActivate(platform::Handle handle, std::uint32_t pathId);

int updateThroughVroc(const DiskInfo& disk, std::span<const std::uint8_t> image,
                      std::uint32_t& transferLength, std::int32_t vrocScsiPort);
int vrocDownload(platform::Handle handle, const DiskInfo& disk, std::span<const std::uint8_t> image,
                 std::uint32_t transferLength);
int vrocActivate(platform::Handle handle, std::uint32_t vrocDiskId);

}  // namespace zev
