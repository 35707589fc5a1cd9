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

#include "zevsim/machine_config.hpp"

namespace zevsim {

class NvmeDrive {
 public:
  NvmeDrive(const DriveConfig& config, std::span<const std::uint8_t> packageImage);

  const DriveConfig& config() const { return config_; }

  // Counts one request of kind that reached this drive and returns the fault
  // that applies to it, if any (the first matching entry of the fault list).
  const Fault* countRequest(FaultRequest kind);
  std::uint32_t requestCount(FaultRequest kind) const;

  // The 4096-byte Identify Controller data structure.
  std::array<std::uint8_t, 4096> identifyController() const;

  // Firmware Image Download: false when the piece breaks the drive's rules
  // (alignment, imageSize, mdts, strict FWUG). A piece at offset 0 starts a
  // new staged image.
  bool downloadPiece(std::uint64_t offset, std::span<const std::uint8_t> data);

  enum class CommitResult { Success, InvalidSlot, InvalidImage };
  // Firmware Commit / ACTIVATE of the staged image to slot (1-based).
  CommitResult commit(std::uint32_t slot);

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
  std::string runningFirmware() const;
  std::string firmwareAfterReset() const;

 private:
  DriveConfig config_;
  std::span<const std::uint8_t> packageImage_;
  std::array<std::uint32_t, kFaultRequestKinds> counts_{};
  std::vector<std::uint8_t> staged_;  // bytes received since the last piece at offset 0
  std::vector<bool> stagedValid_;     // which bytes of staged_ were written, per dword
  std::uint64_t downloadedBytes_ = 0;
  std::vector<std::string> slotRevisions_;  // index slot - 1
  std::uint32_t activeSlot_ = 1;
  std::optional<std::uint32_t> pendingSlot_;
  std::string runningFirmware_;
};

}  // namespace zevsim
