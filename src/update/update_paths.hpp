// The three update paths and the block that opens each drive's update. Each
// path returns a per-drive result code: 0 success, 1 failure, 5 a drive or
// port that cannot be opened or a failed request, 1602 downloaded and active
// only after a shutdown or power cycle.
#pragma once

#include <cstdint>
#include <string_view>

#include "discovery/disk_info.hpp"
#include "platform/platform.hpp"

namespace zev {

inline constexpr std::int32_t kResultSuccess = 0;
inline constexpr std::int32_t kResultFailure = 1;
inline constexpr std::int32_t kResultRequestFailed = 5;
inline constexpr std::int32_t kResultRebootRequired = 1602;

void printTargetDiskBlock(const DiskInfo& disk, std::wstring_view driverName, bool printRaidLine);

int updateThroughInbox(const DiskInfo& disk, std::uint32_t& transferLength);

int updateThroughIrst(const DiskInfo& disk, std::uint32_t& transferLength);
int irstDownload(platform::Handle handle, const DiskInfo& disk, std::uint32_t transferLength);
int irstActivate(platform::Handle handle, std::uint32_t pathId);

int updateThroughVroc(const DiskInfo& disk, std::uint32_t& transferLength,
                      std::int32_t vrocScsiPort);
int vrocDownload(platform::Handle handle, const DiskInfo& disk, std::uint32_t transferLength);
int vrocActivate(platform::Handle handle, std::uint32_t vrocDiskId);

}  // namespace zev
