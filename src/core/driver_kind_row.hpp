// What differs between the driver kinds, as one row per kind: the target
// block's driver line and RAID line, the results file's names, the update
// path and the check's slot read. The rows themselves live with the update
// paths they name (update/driver_kinds.hpp); every other layer reads a row it
// is handed, never a switch of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/disk_info.hpp"
#include "core/firmware_image.hpp"
#include "core/slot_state.hpp"
#include "core/step_outcome.hpp"

namespace zev {

struct DeviceOpens;

// What every update path is given besides its drive.
struct UpdateRun {
  std::span<const std::uint8_t> image;  // the package's image, read-only
  std::uint32_t& transferLength;        // the bytes of it that go out
  std::int32_t vrocScsiPort;            // the VROC driver's SCSI port, or -1
  const PackageIdentity& identity;
};

struct DriverKindRow {
  DriverKind kind;
  // The target block's " Driver : " text.
  std::wstring_view driverName;
  // Whether the target block has a " Raid : " line, and whether the drive is
  // a RAID volume's member (" Raid : Yes"; the results file's "raid").
  bool printsRaidLine;
  bool raid;
  // The results file's "driver".
  std::string_view resultsDriver;
  StepOutcome (*update)(const DiskInfo& disk, const UpdateRun& run);
  // The opens of the controller's path or the VROC port it makes are
  // counted in opens when given.
  SlotRead (*readSlots)(const DiskInfo& disk, std::int32_t vrocScsiPort, DeviceOpens* opens);
};

}  // namespace zev
