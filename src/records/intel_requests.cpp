// The CSMI RAID configuration and Intel NVMe pass-through records.
#include "records/intel_requests.hpp"

namespace zev::intel {

void writeCsmiRaidConfigRequest(std::span<std::uint8_t> request, std::uint32_t raidSetIndex) {
  srb::writeHeader(request, kCsmiSignature, kCsmiTimeout, kCcCsmiSasGetRaidConfig);
  storeLe32(request, kRaidSetIndexOffset, raidSetIndex);
}

std::uint32_t CsmiRaidConfigReply::returnCode() const {
  if (!fieldInside(reply_, srb::kReturnCodeOffset, 4)) {
    return 0;
  }
  return srb::readReturnCode(reply_);
}

std::uint8_t CsmiRaidConfigReply::driveCount() const {
  if (!fieldInside(reply_, kDriveCountOffset, 1)) {
    return 0;
  }
  return loadLe8(reply_, kDriveCountOffset);
}

std::size_t CsmiRaidConfigReply::entryRoom() const {
  if (reply_.size() < kDriveEntriesOffset) {
    return 0;
  }
  return (reply_.size() - kDriveEntriesOffset) / kDriveEntrySize;
}

std::optional<std::uint8_t> CsmiRaidConfigReply::memberPort(std::size_t i) const {
  if (i >= entryRoom()) {
    return std::nullopt;
  }
  return loadLe8(reply_, kDriveEntriesOffset + i * kDriveEntrySize + kEntryPortOffset);
}

void writeIntelNvmIdentifyRequest(std::span<std::uint8_t> request, std::uint8_t pathId) {
  srb::writeHeader(request, kIntelNvmSignature, kIntelNvmTimeout, kIntelNvmControlCode);
  writeDriveAddress(request, pathId);
  nvme::Command command;
  command.opcode = nvme::kOpcodeIdentify;
  command.cdw10 = nvme::kCnsController;
  nvme::writeCommand(request.subspan<kNvmCommandOffset, nvme::kCommandSize>(), command);
  storeLe8(request, kNvmCommandSetOffset, kNvmAdminCommandSet);
  storeLe32(request, kNvmDataBufferOffsetOffset, static_cast<std::uint32_t>(kNvmDataOffset));
  storeLe32(request, kNvmDataBufferLengthOffset, static_cast<std::uint32_t>(identify::kDataSize));
}

std::span<const std::uint8_t> intelNvmIdentifyData(std::span<const std::uint8_t> reply) {
  if (!fieldInside(reply, kNvmDataOffset, identify::kDataSize)) {
    return {};
  }
  return reply.subspan(kNvmDataOffset, identify::kDataSize);
}

}  // namespace zev::intel
