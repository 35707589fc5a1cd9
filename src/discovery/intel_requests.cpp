// The CSMI RAID configuration and Intel NVMe pass-through records.
#include "discovery/intel_requests.hpp"

namespace zev::intel {

std::vector<std::uint8_t> buildCsmiRaidConfigRequest(std::size_t memberRoom,
                                                     std::uint32_t raidSetIndex) {
  std::vector<std::uint8_t> request(csmiRaidConfigRequestSize(memberRoom), 0);
  srb::writeHeader(request, kCsmiSignature, kCsmiTimeout, kCcCsmiSasGetRaidConfig);
  storeLe32(request, kRaidSetIndexOffset, raidSetIndex);
  return request;
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

std::vector<std::uint8_t> buildIntelNvmIdentifyRequest(std::uint8_t pathId) {
  std::vector<std::uint8_t> request(kIntelNvmRequestSize, 0);
  srb::writeHeader(request, kIntelNvmSignature, kIntelNvmTimeout, kIntelNvmControlCode);
  writeDriveAddress(request, pathId);
  // Command identifier 0 in the upper half of dword 0, namespace 0.
  storeLe32(request, kNvmCdw0Offset, kNvmOpcodeIdentify);
  storeLe32(request, kNvmNsidOffset, 0);
  storeLe32(request, kNvmCdw10Offset, kNvmCnsIdentifyController);
  storeLe8(request, kNvmCommandSetOffset, kNvmAdminCommandSet);
  storeLe32(request, kNvmDataBufferOffsetOffset, static_cast<std::uint32_t>(kNvmDataOffset));
  storeLe32(request, kNvmDataBufferLengthOffset, static_cast<std::uint32_t>(identify::kDataSize));
  return request;
}

std::span<const std::uint8_t> intelNvmIdentifyData(std::span<const std::uint8_t> reply) {
  if (!fieldInside(reply, kNvmDataOffset, identify::kDataSize)) {
    return {};
  }
  return reply.subspan(kNvmDataOffset, identify::kDataSize);
}

}  // namespace zev::intel
