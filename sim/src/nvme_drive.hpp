// The NVMe drive model: Identify Controller data from the drive's settings,
// firmware slots, the staged image with the piece rules of the drive, commit
// and activation, injected faults and per-kind request counts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "staged_image.hpp"
#include "zevsim/machine_config.hpp"

namespace zevsim {

class FaultCounter;

// The fault of faults that applies to the request of kind numbered count
// (from 1): the first entry of that kind whose nth is absent or equals count.
const Fault* findFault(std::span<const Fault> faults, FaultRequest kind, std::uint32_t count);

class NvmeDrive {
 public:
  NvmeDrive(const DriveConfig& config, std::span<const std::uint8_t> packageImage);

  const DriveConfig& config() const { return config_; }

  // Counts one request of kind that reached this drive, and at attachment
  // (the disk, RAID member or pass-through entry it came through, when that
  // has faults of its own), and returns the fault that applies to it, if any:
  // the attachment's first matching fault, else the drive's.
  const Fault* countRequest(FaultRequest kind, FaultCounter* attachment = nullptr);
  std::uint32_t requestCount(FaultRequest kind) const;

  // The 4096-byte Identify Controller data structure.
  std::array<std::uint8_t, 4096> identifyController() const;

  // Firmware Image Download: false when the piece breaks the drive's rules
  // (alignment, imageSize, mdts, strict FWUG). A piece at offset 0 starts a
  // new staged image.
  bool downloadPiece(std::uint64_t offset, std::span<const std::uint8_t> data);

  enum class CommitResult { Success, InvalidSlot, InvalidImage };
  // The Commit Action (CA) field of Firmware Commit.
  enum class CommitAction : std::uint8_t {
    Replace = 0,                    // store the staged image in the slot only
    ReplaceAndActivateAtReset = 1,  // store it; it runs after the next reset
    ActivateAtReset = 2,            // run the slot's existing image after the next reset
    ReplaceAndActivateNow = 3,      // store it and run it at once
  };
  // ACTIVATE through a Windows firmware interface: commits the staged image to
  // slot (1-based) with the action the drive's `activation` setting asks for.
  CommitResult commit(std::uint32_t slot);
  // Firmware Commit with an explicit action (the raw NVMe path).
  CommitResult commit(std::uint32_t slot, CommitAction action);

  // Slot information, as STORAGE_FIRMWARE_INFO reports it.
  bool upgradeSupport() const { return config_.upgradeSupport; }
  std::uint32_t slotCount() const { return config_.slots; }
  std::uint32_t activeSlot() const { return activeSlot_; }
  std::optional<std::uint32_t> pendingSlot() const { return pendingSlot_; }
  bool slotReadOnly(std::uint32_t slot) const;
  // The 8 revision bytes of the image held in slot (1-based).
  std::string slotRevision(std::uint32_t slot) const;

  // Report
  std::uint64_t downloadedBytes() const { return downloadedBytes_; }
  bool stagedImageMatchesPackage() const;
  // The memory the staged image holds, which grows with the pieces received.
  std::size_t stagedBytesHeld() const { return staged_.heldBytes(); }
  std::string runningFirmware() const;
  std::string firmwareAfterReset() const;

 private:
  DriveConfig config_;
  std::span<const std::uint8_t> packageImage_;
  std::array<std::uint32_t, kFaultRequestKinds> counts_{};
  StagedImage staged_;  // what arrived since the last piece at offset 0
  std::string stagedRevision() const;
  std::uint64_t downloadedBytes_ = 0;
  std::vector<std::string> slotRevisions_;  // index slot - 1
  std::uint32_t activeSlot_ = 1;
  std::optional<std::uint32_t> pendingSlot_;
  std::string runningFirmware_;
};

}  // namespace zevsim
