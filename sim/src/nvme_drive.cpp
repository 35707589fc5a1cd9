// STUB: replaced by the drive-model work.
#include "nvme_drive.hpp"
namespace zevsim {
NvmeDrive::NvmeDrive(const DriveConfig& config, std::span<const std::uint8_t> packageImage)
    : config_(config), packageImage_(packageImage) {}
const Fault* NvmeDrive::countRequest(FaultRequest kind) {
  ++counts_[static_cast<int>(kind)];
  return nullptr;
}
std::uint32_t NvmeDrive::requestCount(FaultRequest kind) const {
  return counts_[static_cast<int>(kind)];
}
std::array<std::uint8_t, 4096> NvmeDrive::identifyController() const {
  return {};
}
bool NvmeDrive::downloadPiece(std::uint64_t, std::span<const std::uint8_t>) {
  return false;
}
NvmeDrive::CommitResult NvmeDrive::commit(std::uint32_t) {
  return CommitResult::InvalidImage;
}
bool NvmeDrive::slotReadOnly(std::uint32_t) const {
  return true;
}
std::string NvmeDrive::slotRevision(std::uint32_t) const {
  return config_.firmware;
}
bool NvmeDrive::stagedImageMatchesPackage() const {
  return false;
}
std::string NvmeDrive::runningFirmware() const {
  return config_.firmware;
}
std::string NvmeDrive::firmwareAfterReset() const {
  return config_.firmware;
}
}  // namespace zevsim
