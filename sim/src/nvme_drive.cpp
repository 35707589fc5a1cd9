// The NVMe drive model: what a controller reports in Identify Controller,
// what it accepts from Firmware Image Download, and what Firmware Commit does
// with the staged image. Drivers translate their interfaces into these calls;
// the drive itself knows no driver.
#include "nvme_drive.hpp"

#include <algorithm>

#include "byte_order.hpp"
#include "endpoint.hpp"
#include "nvme_layout.hpp"

namespace zevsim {

namespace {

constexpr std::uint64_t kFwugUnit = 4096;

// Copies text into a fixed-width Identify field; NVMe pads text with blanks.
void putText(std::span<std::uint8_t> data, std::size_t offset, std::size_t width,
             const std::string& text) {
  for (std::size_t i = 0; i < width; ++i) {
    data[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{' '};
  }
}

// MDTS is a power of two in units of the minimum memory page size (4 KiB);
// 0 reports no limit.
std::uint8_t mdtsField(std::uint32_t mdtsBytes) {
  std::uint8_t exponent = 0;
  for (std::uint64_t units = mdtsBytes / kFwugUnit; units > 1; units >>= 1) {
    ++exponent;
  }
  return exponent;
}

}  // namespace

const Fault* findFault(std::span<const Fault> faults, FaultRequest kind, std::uint32_t count) {
  for (const Fault& fault : faults) {
    if (fault.request == kind && (!fault.nth || *fault.nth == count)) {
      return &fault;
    }
  }
  return nullptr;
}

NvmeDrive::NvmeDrive(const DriveConfig& config, std::span<const std::uint8_t> packageImage)
    : config_(config),
      packageImage_(packageImage),
      slotRevisions_(config.slots, config.firmware),
      activeSlot_(config.activeSlot),
      pendingSlot_(config.pendingSlot),
      runningFirmware_(config.firmware) {
  // A drive an earlier run left behind holds its own revisions.
  if (config.slotFirmware.size() == config.slots) {
    slotRevisions_ = config.slotFirmware;
  }
}

const Fault* NvmeDrive::countRequest(FaultRequest kind, FaultCounter* attachment) {
  const Fault* attached = attachment != nullptr ? attachment->count(kind) : nullptr;
  const std::uint32_t count = ++counts_[static_cast<int>(kind)];
  const Fault* own = findFault(config_.faults, kind, count);
  return attached != nullptr ? attached : own;
}

std::uint32_t NvmeDrive::requestCount(FaultRequest kind) const {
  return counts_[static_cast<int>(kind)];
}

std::array<std::uint8_t, 4096> NvmeDrive::identifyController() const {
  namespace id = nvme::identify;
  static_assert(id::kSize == 4096);
  std::array<std::uint8_t, 4096> data{};
  const std::span<std::uint8_t> bytes(data);
  constexpr std::uint16_t kVendorId = 0x1D9B;
  le::store16(bytes, id::kVid, kVendorId);
  le::store16(bytes, id::kSsvid, kVendorId);
  putText(bytes, id::kSn, id::kSnSize, config_.serial);
  putText(bytes, id::kMn, id::kMnSize, config_.model);
  putText(bytes, id::kFr, id::kFrSize, runningFirmware_);
  data[id::kMdts] = config_.mdtsExponent.value_or(mdtsField(config_.mdts));
  le::store32(bytes, id::kVer,
              (static_cast<std::uint32_t>(config_.nvmeMajor) << 16) |
                  (static_cast<std::uint32_t>(config_.nvmeMinor) << 8) | config_.nvmeTertiary);
  // A drive that cannot be upgraded does not offer the firmware commands.
  le::store16(bytes, id::kOacs, config_.upgradeSupport ? id::kOacsFirmwareCommitAndDownload : 0);
  std::uint8_t frmw = static_cast<std::uint8_t>((config_.slots & 0x7) << id::kFrmwSlotCountShift);
  if (config_.slot1ReadOnly) {
    frmw |= id::kFrmwSlot1ReadOnly;
  }
  if (config_.activation == Activation::Immediate) {
    frmw |= id::kFrmwActivationWithoutReset;
  }
  data[id::kFrmw] = frmw;
  data[id::kFwug] = config_.fwug;
  data[id::kSqes] = 0x66;  // 64-byte submission entries
  data[id::kCqes] = 0x44;  // 16-byte completion entries
  le::store32(bytes, id::kNn, 1);
  return data;
}

bool NvmeDrive::downloadPiece(std::uint64_t offset, std::span<const std::uint8_t> data) {
  const std::uint64_t size = data.size();
  if (size == 0 || offset % 4 != 0 || size % 4 != 0) {
    return false;
  }
  if (!le::inside(config_.imageSize, offset, size)) {
    return false;
  }
  if (config_.mdts != 0 && size > config_.mdts) {
    return false;
  }
  // FWUG 0 gives no granularity and 0xFF says there is no restriction.
  if (config_.fwugStrict && config_.fwug != 0 && config_.fwug != 0xFF) {
    const std::uint64_t unit = config_.fwug * kFwugUnit;
    const bool endsImage = offset + size == config_.imageSize;
    if (offset % unit != 0 || (size % unit != 0 && !endsImage)) {
      return false;
    }
  }
  if (offset == 0 || !staged_.started() || staged_.size() != config_.imageSize) {
    staged_.start(config_.imageSize);
  }
  staged_.write(offset, data);
  downloadedBytes_ += size;
  return true;
}

std::string NvmeDrive::stagedRevision() const {
  std::string revision(kImageRevisionSize, '\0');
  for (std::size_t i = 0; i < kImageRevisionSize; ++i) {
    revision[i] = static_cast<char>(staged_.byteAt(kImageRevisionOffset + i));
  }
  return revision;
}

NvmeDrive::CommitResult NvmeDrive::commit(std::uint32_t slot) {
  return commit(slot, config_.activation == Activation::Immediate
                          ? CommitAction::ReplaceAndActivateNow
                          : CommitAction::ReplaceAndActivateAtReset);
}

NvmeDrive::CommitResult NvmeDrive::commit(std::uint32_t slot, CommitAction action) {
  if (slot == 0 || slot > config_.slots) {
    return CommitResult::InvalidSlot;
  }
  if (action == CommitAction::ActivateAtReset) {
    // Runs what the slot already holds: nothing is written, so a read-only
    // slot is fine.
    pendingSlot_ = slot;
    return CommitResult::Success;
  }
  if (slotReadOnly(slot)) {
    return CommitResult::InvalidSlot;
  }
  if (!staged_.complete()) {
    return CommitResult::InvalidImage;
  }
  slotRevisions_[slot - 1] = stagedRevision();
  switch (action) {
    case CommitAction::Replace:
    case CommitAction::ActivateAtReset:
      break;
    case CommitAction::ReplaceAndActivateAtReset:
      pendingSlot_ = slot;
      break;
    case CommitAction::ReplaceAndActivateNow:
      activeSlot_ = slot;
      runningFirmware_ = slotRevisions_[slot - 1];
      pendingSlot_.reset();
      break;
  }
  return CommitResult::Success;
}

bool NvmeDrive::slotReadOnly(std::uint32_t slot) const {
  if (slot == 0 || slot > config_.slots) {
    return true;
  }
  return slot == 1 && config_.slot1ReadOnly;
}

std::string NvmeDrive::slotRevision(std::uint32_t slot) const {
  if (slot == 0 || slot > slotRevisions_.size()) {
    return {};
  }
  return slotRevisions_[slot - 1];
}

bool NvmeDrive::stagedImageMatchesPackage() const {
  return staged_.equals(packageImage_);
}

std::string NvmeDrive::runningFirmware() const {
  return runningFirmware_;
}

std::string NvmeDrive::firmwareAfterReset() const {
  if (pendingSlot_) {
    return slotRevision(*pendingSlot_);
  }
  // A reset reloads the active slot, which a commit without activation may
  // have rewritten.
  if (activeSlot_ >= 1 && activeSlot_ <= slotRevisions_.size()) {
    return slotRevisions_[activeSlot_ - 1];
  }
  return runningFirmware_;
}

}  // namespace zevsim
