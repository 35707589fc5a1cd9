// The read-only slot requests of the check: what a drive's firmware slots
// hold and which slot waits for the next reset, read through each stack's own
// interface (the inbox slot-information request, the Intel firmware
// interface's GET_INFO, the VROC pass-through's Firmware Slot Information
// log). They send no download, activation or commit, and print nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/disk_info.hpp"
#include "records/firmware_records.hpp"

namespace zev {

struct SlotState {
  std::uint8_t activeSlot = 0;
  std::optional<std::uint8_t> pendingSlot;  // the slot active after the next reset
  // The revision bytes of slots 1, 2, ... (8 bytes, or 16 from the Intel
  // interface); a slot the reply does not describe is absent.
  std::vector<std::optional<std::vector<std::uint8_t>>> revisions;
};

// The slots a STORAGE_FIRMWARE_INFO (version 1 or 2) describes.
SlotState slotStateOf(const fw::FirmwareInfo& info);

// nullopt when the drive or port cannot be opened, the request fails or the
// reply does not describe the slots.
std::optional<SlotState> readInboxSlots(const DiskInfo& disk);
std::optional<SlotState> readIrstSlots(const DiskInfo& disk);
std::optional<SlotState> readVrocSlots(const DiskInfo& disk, std::int32_t vrocScsiPort);

}  // namespace zev
