// update/: the revision gate, the piece plan and its one loop, the three
// update paths, the check's slot reads and verdict, and the table of driver
// kinds that names them. Includes report/, core/, records/ and platform/,
// never discovery/ or app/.
//
// The three update paths and the block that opens each drive's update. Each
// path returns its outcome: the per-drive result code (0 success, 1 failure,
// 5 a drive or port that cannot be opened or a failed request, 1602
// downloaded and active only after a shutdown or power cycle) and the text of
// the first error line it printed.
#pragma once

#include <cstdint>
#include <span>

#include "core/disk_info.hpp"
#include "core/firmware_image.hpp"
#include "core/result_codes.hpp"
#include "core/step_outcome.hpp"
#include "platform/platform.hpp"

namespace zev {

// The target block: the driver line and, on the inbox and IRST paths, the
// RAID line of the drive's driver kind, its identity and the image's revision.
void printTargetDiskBlock(const DiskInfo& disk, const PackageIdentity& identity);

// image: the package's image, read-only; transferLength of its bytes go out.
StepOutcome updateThroughInbox(const DiskInfo& disk, std::uint32_t& transferLength,
                               std::span<const std::uint8_t> image,
                               const PackageIdentity& identity);

StepOutcome updateThroughIrst(const DiskInfo& disk, std::uint32_t& transferLength,
                              std::span<const std::uint8_t> image, const PackageIdentity& identity);
// code 0 when every piece was accepted, else 1.
StepOutcome irstDownload(platform::Handle handle, const DiskInfo& disk,
                         std::span<const std::uint8_t> image, std::uint32_t transferLength);
StepOutcome irstActivate(platform::Handle handle, std::uint32_t pathId);

StepOutcome updateThroughVroc(const DiskInfo& disk, std::uint32_t& transferLength,
                              std::int32_t vrocScsiPort, std::span<const std::uint8_t> image,
                              const PackageIdentity& identity);
// code 0 when every piece was accepted, else 1.
StepOutcome vrocDownload(platform::Handle handle, const DiskInfo& disk,
                         std::span<const std::uint8_t> image, std::uint32_t transferLength);
StepOutcome vrocActivate(platform::Handle handle, std::uint32_t vrocDiskId);

// The Intel paths' download verdict: an empty line, then "  [PASS] Firmware
// download succeeded." or "  [FAIL] Firmware download failed."; the outcome
// keeps the diagnostic of the piece that failed.
StepOutcome downloadVerdict(StepOutcome pieces);

}  // namespace zev
