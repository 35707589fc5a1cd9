// The read-only slot requests of the check: what a drive's firmware slots
// hold and which slot waits for the next reset, read through each stack's own
// interface (the inbox slot-information request, the Intel firmware
// interface's GET_INFO, the VROC pass-through's Firmware Slot Information
// log). They send no download, activation or commit, and print nothing.
#pragma once

#include <cstdint>
#include <optional>

#include "core/counted_open.hpp"
#include "core/disk_info.hpp"
#include "core/slot_state.hpp"
#include "records/firmware_records.hpp"

namespace zev {

// The slots a STORAGE_FIRMWARE_INFO (version 1 or 2) describes.
SlotState slotStateOf(const fw::FirmwareInfo& info);

// No slots when the drive or port cannot be opened or the request is not
// delivered (code 5 and the error), or when the request is refused or the
// reply does not describe the slots (code 1).
SlotRead readInboxSlots(const DiskInfo& disk);
// The IRST and VROC reads count their open of the controller's path or the
// VROC port in opens when given (the read's openNth).
SlotRead readIrstSlots(const DiskInfo& disk, DeviceOpens* opens = nullptr);
SlotRead readVrocSlots(const DiskInfo& disk, std::int32_t vrocScsiPort,
                       DeviceOpens* opens = nullptr);

// The outcome of a slot read that failed; request: the request that failed
// and how (its last error becomes the step's system error).
SlotRead slotReadFailed(int code, std::optional<FailedRequest> request = std::nullopt);

}  // namespace zev
